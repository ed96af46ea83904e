// The libmpv player on live streams of the numbered clip sent by ffmpeg on
// 127.0.0.1: the first frame soon, frames advancing, seeking back within what
// was received and going live again (HTTP); the signal lost and found again
// by itself when the sender stops and restarts (UDP).  A camera, with FFmpeg's
// generated test picture standing in for the device: kept encoded, received
// while paused and sought back in; its end a lost signal, the reconnect a
// fresh encoder; no encoder left once it is closed.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <memory>
#include <string>

#include "playback/live_encoder.h"
#include "playback/mpv_player.h"
#include "support/event_loop.h"
#include "support/frame_number.h"
#include "support/live_sender.h"

namespace velmora {
namespace {

using testing::frameNumber;
using testing::LiveSender;
using testing::spin;
using testing::waitUntil;

// Frames from `a` to `b` on the clip's 500-frame loop.
int framesBetween(int a, int b) { return ((b - a) % 500 + 500) % 500; }

struct LivePlayer {
    std::unique_ptr<MpvPlayer> player;
    int opened = 0, closed = 0;

    explicit LivePlayer(MpvOptions options = {"null"}) : player(std::make_unique<MpvPlayer>(nullptr, options)) {
        player->onOpenStateChange = [this](int, int to) { ++(to == open_state::kMediaOpen ? opened : closed); };
        player->resize(320, 240 + kControlStripHeight);
        player->show();
    }
    bool open(const std::string& url) {
        const SourceChoice choice = classifySource(url);
        return choice.ok() && player->setLiveSource(choice.source, liveOptions(choice.source, LiveBuffer{}, nullptr));
    }
    // A camera in MJPEG at 1280 x 720: the player reads `options`' stand-in.
    bool openCamera() {
        const MediaSource camera = classifySource("/dev/video0").source;
        const CameraSettings mjpeg{"mjpeg", 1280, 720, 30, 1};
        return player->setLiveSource(camera, liveOptions(camera, LiveBuffer{}, &mjpeg));
    }
    int shown() { return frameNumber(player->videoImage()); }
    std::string text() { return player->session().liveText(); }
};

TEST(MpvLive, HttpPlaysSoonAdvancesSeeksBackWithinWhatWasReceivedAndGoesLive) {
    LiveSender sender(LiveSender::Protocol::Http);
    LivePlayer live;
    // Nobody listens yet: the open fails at once and names the address.
    EXPECT_TRUE(live.open(sender.url()));
    EXPECT_EQ(live.player->playState(), play_state::kNoMedia);
    EXPECT_NE(live.player->errorDescription().find(sender.url()), std::string::npos)
        << live.player->errorDescription();
    EXPECT_FALSE(live.player->live());

    ASSERT_TRUE(sender.start()) << sender.log();
    QElapsedTimer sinceStart;
    sinceStart.start();
    ASSERT_TRUE(live.open(sender.url())) << live.player->errorDescription();
    ASSERT_EQ(live.player->playState(), play_state::kPlaying) << live.player->errorDescription();
    EXPECT_TRUE(live.player->live());
    EXPECT_EQ(live.player->fileName(), sender.url());
    ASSERT_TRUE(waitUntil([&] { return live.shown() >= 0; }, 3000));
    EXPECT_LT(sinceStart.elapsed(), 1500);

    // Frames advance at the sender's rate, at live.
    const int first = live.shown();
    spin(2000);
    EXPECT_NEAR(framesBetween(first, live.shown()), 50, 8);
    EXPECT_EQ(live.text(), "LIVE");
    spin(2000);

    // Back further than received: the oldest point held, never an error.
    live.player->setCurrentPosition(live.player->currentPosition() - 8);
    ASSERT_TRUE(waitUntil([&] { return live.shown() >= 0 && live.shown() < 15; }, 3000)) << live.shown();
    spin(500);
    EXPECT_EQ(live.player->playState(), play_state::kPlaying);
    EXPECT_TRUE(live.text().starts_with("-")) << live.text();
    const double behind = std::stod(live.text().substr(1));
    EXPECT_GT(behind, 3.0);
    EXPECT_LT(behind, 6.0);

    // Go Live: the newest frames, from now on at live.
    live.player->goLive();
    ASSERT_TRUE(waitUntil([&] { return framesBetween(live.shown(), sender.framesSent() - 1) < 15; }, 2000))
        << live.shown() << " against " << sender.framesSent() - 1;
    spin(1000);
    EXPECT_EQ(live.text(), "LIVE");
    EXPECT_LT(framesBetween(live.shown(), sender.framesSent() - 1), 15);
    EXPECT_EQ(live.closed, 0);
}

TEST(MpvLive, UdpSignalLostWhenTheSenderStopsAndBackByItselfWhenItRestarts) {
    LiveSender sender(LiveSender::Protocol::Udp);
    ASSERT_TRUE(sender.start()) << sender.log();
    LivePlayer live;
    ASSERT_TRUE(live.open(sender.url()));
    ASSERT_EQ(live.player->playState(), play_state::kPlaying) << live.player->errorDescription();
    ASSERT_TRUE(waitUntil([&] { return live.shown() >= 0; }, 3000));

    sender.stop();
    QElapsedTimer sinceStop;
    sinceStop.start();
    ASSERT_TRUE(waitUntil([&] { return live.text() == "Signal lost - reconnecting..."; }, 5000)) << live.text();
    EXPECT_LT(sinceStop.elapsed(), 5000);
    spin(3000);  // a reconnect or two meanwhile, without a word to the window
    EXPECT_EQ(live.text(), "Signal lost - reconnecting...");

    ASSERT_TRUE(sender.start());
    ASSERT_TRUE(waitUntil([&] { return live.text() == "LIVE"; }, 12000)) << live.text();
    const int back = live.shown();
    spin(1000);
    EXPECT_NEAR(framesBetween(back, live.shown()), 25, 8);
    EXPECT_EQ(live.player->playState(), play_state::kPlaying);
    // The window was never told of a close or a new open: its ring stays.
    EXPECT_EQ(live.opened, 1);
    EXPECT_EQ(live.closed, 0);
}

MpvOptions standingIn(const std::string& picture) {
    MpvOptions options{"null"};
    options.cameraStandIn = CaptureInput{"lavfi", "testsrc2=size=320x240:rate=30" + picture + ",realtime", {}};
    return options;
}

double behindLive(const std::string& text) { return text.starts_with("-") ? std::stod(text.substr(1)) : 0; }

TEST(MpvLive, ACameraKeptEncodedIsReceivedWhilePausedAndSoughtBackIn) {
    LivePlayer live(standingIn(""));
    ASSERT_TRUE(live.openCamera());
    ASSERT_EQ(live.player->playState(), play_state::kPlaying) << live.player->errorDescription();
    EXPECT_EQ(live.player->fileName(), "av://v4l2:/dev/video0");
    EXPECT_EQ(LiveEncoder::running(), 1);
    ASSERT_TRUE(waitUntil([&] { return live.player->renderedFrames() > 0; }, 3000));
    EXPECT_EQ(live.player->session().videoWidth(), 320);
    spin(6000);
    EXPECT_EQ(live.text(), "LIVE");

    // Paused, the source is still received: live moves away.
    live.player->pause();
    spin(3000);
    EXPECT_NEAR(behindLive(live.text()), 3.0, 0.8) << live.text();
    // Four seconds further back, and playing from there.
    const double position = live.player->currentPosition();
    live.player->setCurrentPosition(position - 4);
    live.player->play();
    ASSERT_TRUE(waitUntil([&] { return behindLive(live.text()) > 6; }, 3000)) << live.text();
    EXPECT_NEAR(live.player->currentPosition(), position - 4, 0.5);
    EXPECT_NEAR(behindLive(live.text()), 7.0, 1.0) << live.text();
    live.player->goLive();
    ASSERT_TRUE(waitUntil([&] { return live.text() == "LIVE"; }, 3000)) << live.text();

    // Another camera in its place, then a file that does not open: the
    // encoder goes with what it fed.
    ASSERT_TRUE(live.openCamera());
    EXPECT_EQ(live.player->playState(), play_state::kPlaying) << live.player->errorDescription();
    EXPECT_TRUE(waitUntil([] { return LiveEncoder::running() == 1; }, 3000));
    live.player->setFileName("/nonexistent.mp4");
    EXPECT_TRUE(waitUntil([] { return LiveEncoder::running() == 0; }, 3000)) << LiveEncoder::running();
}

TEST(MpvLive, ACameraThatStopsSendingIsALostSignalAndIsOpenedAgain) {
    LivePlayer live(standingIn(":duration=2"));
    ASSERT_TRUE(live.openCamera());
    ASSERT_EQ(live.player->playState(), play_state::kPlaying) << live.player->errorDescription();
    ASSERT_TRUE(waitUntil([&] { return live.text() == "Camera disconnected - waiting for it..."; }, 8000)) << live.text();
    const long long before = live.player->renderedFrames();
    ASSERT_TRUE(waitUntil([&] { return live.text() == "LIVE"; }, 8000)) << live.text();
    EXPECT_TRUE(waitUntil([&] { return live.player->renderedFrames() > before + 10; }, 3000));
    EXPECT_EQ(live.opened, 1);
    EXPECT_EQ(live.closed, 0);
}

}  // namespace
}  // namespace velmora
