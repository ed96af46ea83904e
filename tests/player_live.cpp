// The libmpv player on live sources: an HTTP stream on 127.0.0.1 (a seek back past
// what was received; the rest: ui_e2e_live.cpp), a recording on a web server, and a
// camera stood in for by a generated picture: kept encoded, received while paused,
// sought back in, its end a lost signal, no encoder left once it is closed.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "playback/live_encoder.h"
#include "playback/mpv_player.h"
#include "support/event_loop.h"
#include "support/file_server.h"
#include "support/frame_number.h"
#include "support/live_sender.h"

namespace velmora {
namespace {

using testing::frameNumber;
using testing::LiveSender;
using testing::spin;
using testing::waitUntil;

struct LivePlayer {
    std::unique_ptr<MpvPlayer> player;
    int opened = 0, closed = 0;
    explicit LivePlayer(MpvOptions options = {"null"}) : player(std::make_unique<MpvPlayer>(nullptr, options)) {
        player->onOpenStateChange = [this](int, int to) { ++(to == open_state::kMediaOpen ? opened : closed); };
        player->resize(320, 240 + kControlStripHeight);
        player->show();
    }
    // A camera in MJPEG at 1280 x 720: the player reads `options`' stand-in.
    bool openCamera() {
        const MediaSource camera = classifySource("/dev/video0").source;
        const CameraSettings mjpeg{"mjpeg", 1280, 720, 30, 1};
        return player->setLiveSource(camera, liveOptions(camera, LiveBuffer{}, &mjpeg));
    }
    int shown() { return frameNumber(player->videoImage()); }
    std::string text() { return player->session().liveText(); }
    double behind() {
        const std::string t = text();
        return t.starts_with("-") ? std::stod(t.substr(1)) : 0;
    }
};

// (A stream nobody sends: the bad input end-to-end test.)
TEST(MpvLive, HttpSeeksBackOnlyWithinWhatWasReceived) {
    LiveSender sender(LiveSender::Protocol::Http);
    LivePlayer live;
    ASSERT_TRUE(sender.start()) << sender.log();
    const MediaSource stream = classifySource(sender.url()).source;
    ASSERT_TRUE(live.player->setLiveSource(stream, liveOptions(stream, {}, nullptr))) << live.player->errorDescription();
    ASSERT_EQ(live.player->playState(), play_state::kPlaying) << live.player->errorDescription();
    EXPECT_TRUE(live.player->live());
    EXPECT_EQ(live.player->fileName(), sender.url());
    ASSERT_TRUE(waitUntil([&] { return live.shown() >= 0; }, 3000));
    spin(4000);
    // Back further than received: the oldest point held, never an error.
    live.player->setCurrentPosition(live.player->currentPosition() - 8);
    ASSERT_TRUE(waitUntil([&] { return live.shown() >= 0 && live.shown() < 15; }, 3000)) << live.shown();
    spin(500);
    EXPECT_EQ(live.player->playState(), play_state::kPlaying);
    EXPECT_NEAR(live.behind(), 4.5, 1.5) << live.text();
    EXPECT_EQ(live.closed, 0);
}

// A video file on a web server is a recording, not a live stream: it plays
// as a file, at once even with a delay set, and stops at its end instead of
// being opened again as a lost signal.
TEST(MpvLive, ARecordingOnAWebServerPlaysAsAFileToItsEnd) {
    testing::FileServer server(testing::mediaPath("numbered.mp4"));  // 20 s at 25 fps
    LivePlayer recording;
    recording.player->setLiveDelay(5);
    const MediaSource stream = classifySource(server.url("numbered.mp4")).source;
    ASSERT_TRUE(recording.player->setLiveSource(stream, liveOptions(stream, {}, nullptr)));
    ASSERT_EQ(recording.player->playState(), play_state::kPlaying) << recording.player->errorDescription();
    ASSERT_TRUE(waitUntil([&] { return !recording.player->live(); }, 5000)) << recording.text();
    EXPECT_EQ(recording.text(), "");
    EXPECT_NEAR(recording.player->session().duration(), 20, 0.1);
    ASSERT_TRUE(waitUntil([&] { return recording.shown() >= 25; }, 5000)) << recording.shown();
    recording.player->setCurrentPosition(18);
    ASSERT_TRUE(waitUntil([&] { return recording.player->playState() == play_state::kStopped; }, 8000));
    const int last = recording.shown();
    EXPECT_GE(last, 495);
    spin(3000);
    EXPECT_EQ(recording.player->playState(), play_state::kStopped);
    EXPECT_EQ(recording.shown(), last);
}

MpvOptions standingIn(const std::string& picture) {
    MpvOptions options{"null"};
    options.cameraStandIn = CaptureInput{"lavfi", "testsrc2=size=320x240:rate=30" + picture + ",realtime", {}};
    return options;
}

TEST(MpvLive, ACameraKeptEncodedIsReceivedWhilePausedSoughtBackInAndOpenedAgainAfterItsEnd) {
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
    EXPECT_NEAR(live.behind(), 3.0, 0.8) << live.text();
    // Four seconds further back, and playing from there.
    const double position = live.player->currentPosition();
    live.player->setCurrentPosition(position - 4);
    live.player->play();
    ASSERT_TRUE(waitUntil([&] { return live.behind() > 6; }, 3000)) << live.text();
    EXPECT_NEAR(live.player->currentPosition(), position - 4, 0.5);
    EXPECT_NEAR(live.behind(), 7.0, 1.0) << live.text();
    live.player->goLive();
    ASSERT_TRUE(waitUntil([&] { return live.text() == "LIVE"; }, 3000)) << live.text();
    // Another camera in its place, then a file that does not open: the encoder goes with what it fed.
    ASSERT_TRUE(live.openCamera());
    EXPECT_EQ(live.player->playState(), play_state::kPlaying) << live.player->errorDescription();
    EXPECT_TRUE(waitUntil([] { return LiveEncoder::running() == 1; }, 3000));
    live.player->setFileName("/nonexistent.mp4");
    EXPECT_TRUE(waitUntil([] { return LiveEncoder::running() == 0; }, 3000)) << LiveEncoder::running();
    // A camera that stops sending is a lost signal, and is opened again.
    LivePlayer ends(standingIn(":duration=2"));
    ASSERT_TRUE(ends.openCamera());
    ASSERT_EQ(ends.player->playState(), play_state::kPlaying) << ends.player->errorDescription();
    ASSERT_TRUE(waitUntil([&] { return ends.text() == "Camera disconnected - waiting for it..."; }, 8000)) << ends.text();
    const long long before = ends.player->renderedFrames();
    ASSERT_TRUE(waitUntil([&] { return ends.text() == "LIVE"; }, 8000)) << ends.text();
    EXPECT_TRUE(waitUntil([&] { return ends.player->renderedFrames() > before + 10; }, 3000));
    EXPECT_EQ(ends.opened, 1);
    EXPECT_EQ(ends.closed, 0);
}

}  // namespace
}  // namespace velmora
