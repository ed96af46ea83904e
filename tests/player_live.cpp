// The libmpv player on live streams of the numbered clip sent by ffmpeg on
// 127.0.0.1: the first frame soon, frames advancing, seeking back within what
// was received and going live again (HTTP); the signal lost and found again
// by itself when the sender stops and restarts (UDP).
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <memory>
#include <string>

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
    std::unique_ptr<MpvPlayer> player = std::make_unique<MpvPlayer>(nullptr, MpvOptions{"null"});
    int opened = 0, closed = 0;

    LivePlayer() {
        player->onOpenStateChange = [this](int, int to) { ++(to == open_state::kMediaOpen ? opened : closed); };
        player->resize(320, 240 + kControlStripHeight);
        player->show();
    }
    bool open(const std::string& url) {
        const SourceChoice choice = classifySource(url);
        return choice.ok() && player->setLiveSource(choice.source, liveOptions(choice.source, LiveBuffer{}, nullptr));
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

}  // namespace
}  // namespace velmora
