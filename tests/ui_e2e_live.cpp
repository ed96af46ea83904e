// The whole program on live streams of the numbered clip sent on 127.0.0.1, what
// the window shows followed against the number the sender sent last: over HTTP
// live, review, F4 and Go Live; over UDP a lost signal and its return; over SRT
// the picture, and a peer that sends nothing failing within the network timeout.
#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>
#include <QTimer>
#include <string>

#include "support/event_loop.h"
#include "support/qt_app.h"
#include "support/whole_program.h"
// Last: it brings the X11 headers' macros.
#include "support/live_sender.h"

namespace velmora::testing {
namespace {

constexpr const char* kLost = "Signal lost - reconnecting...";

class EndToEndLive : public WholeProgram {
protected:
    // Frames between the picture on the screen and the sender's newest one.
    int behindSender(const LiveSender& sender) const {
        return framesBetween(onScreenNow(), sender.framesSent() - 1);
    }
    // F5 held until review has stepped `steps` frames back: each frame shown on the
    // way is the one captured that many ticks earlier, the screen's at its tick.
    std::vector<Shown> reviewBack(long steps) {
        const std::size_t captured = captures.size();
        EXPECT_GE(captured, static_cast<std::size_t>(steps));
        std::vector<Shown> shown;
        const auto sample = [&] {
            if (shown.empty() || shown.back().age != frm->mlFrameAge) shown.push_back(shownNow());
        };
        frm->Form_KeyDown(key::F5, 0);
        EXPECT_TRUE(waitUntil([&] { return sample(), frm->mlFrameAge >= steps; }, 20000)) << frm->mlFrameAge;
        frm->Form_KeyUp(key::F5, 0);
        EXPECT_TRUE(waitUntil([&] { return sample(), !frm->ReviewTimer.enabled(); }));
        EXPECT_EQ(captures.size(), captured) << "captured while reviewing";
        EXPECT_TRUE(displayIsConsistent());
        EXPECT_EQ(shown.size(), static_cast<std::size_t>(steps));
        for (std::size_t i = 0; i < shown.size(); ++i) {
            expectShowsAge(shown[i], static_cast<long>(i) + 1);
            EXPECT_EQ(shown[i].painted, capturedAtAge(static_cast<long>(i) + 1).onScreen);
        }
        return shown;
    }
    // From capture `from` on, each holds the picture that was on the screen.
    void expectCapturesHoldTheScreen(std::size_t from) const {
        for (std::size_t i = from; i < captures.size(); ++i)
            EXPECT_TRUE(captures[i].onScreen < 0 || captures[i].stored == captures[i].onScreen)
                << "capture " << i << " holds " << captures[i].stored << " for " << captures[i].onScreen;
    }
};

TEST_F(EndToEndLive, HttpAdvancesReviewsJumpsBackEightSecondsAndGoesLive) {
    LiveSender sender(LiveSender::Protocol::Http);
    ASSERT_TRUE(sender.start()) << sender.log();
    ASSERT_NO_FATAL_FAILURE(openLive(sender.url()));
    // At live the ring fills with what was on the screen.  At the stream's 13 s
    // (it starts at 1.48 s) F4 has more than its 10 s back, and no number wrapped.
    ASSERT_TRUE(waitUntil([&] { return player->currentPosition() >= 13; }, 30000)) << player->currentPosition();
    ASSERT_GE(captures.size(), 30u);
    expectCapturesHoldTheScreen(0);
    for (std::size_t i = 1; i < captures.size(); ++i) EXPECT_GE(captures[i].stored, captures[i - 1].stored);
    EXPECT_GT(captures.back().stored - captures.front().stored, 150);
    EXPECT_EQ(strip(), "Playing    LIVE");
    const int lag = behindSender(sender);
    EXPECT_LT(lag, 15);
    // F4: back 10 s, then forward 2 s, exact seeks in the cache: 200 frames
    // behind the sender (whose count is up to 0.1 s old, read twice).
    frm->Form_KeyUp(key::F4, 0);
    ASSERT_TRUE(waitUntil([&] { return behindSender(sender) > lag + 150; }, 5000)) << behindSender(sender);
    spin(500);
    EXPECT_NEAR(behindSender(sender), lag + 200, 6);
    EXPECT_TRUE(displayIsConsistent());
    EXPECT_EQ(player->playState(), play_state::kPlaying);
    // Ten steps of review there, then Go Live from the review: the newest frames.
    const std::size_t afterF4 = captures.size();
    ASSERT_TRUE(waitUntil([&] { return captures.size() >= afterF4 + 15; }));
    expectCapturesHoldTheScreen(afterF4);
    reviewBack(10);
    EXPECT_EQ(player->playState(), play_state::kPaused);
    window->findChild<QAction*>("mnuViewGoLive")->trigger();
    EXPECT_TRUE(displayIsConsistent());
    EXPECT_EQ(player->playState(), play_state::kPlaying);
    ASSERT_TRUE(waitUntil([&] { return strip() == "Playing    LIVE" && behindSender(sender) < 15; }, 5000))
        << strip() << ", " << behindSender(sender) << " frames behind";
    spin(1000);
    EXPECT_EQ(strip(), "Playing    LIVE");
    EXPECT_LT(behindSender(sender), 15);
    EXPECT_TRUE(desktop.boxes.empty()) << desktop.boxes.front();
    EXPECT_TRUE(frm->msErrorMessages.empty()) << frm->msErrorMessages;
}

TEST_F(EndToEndLive, UdpLostSignalLeavesTheRingReviewableAndThePictureReturnsByItself) {
    LiveSender sender(LiveSender::Protocol::Udp);
    ASSERT_TRUE(sender.start()) << sender.log();
    // Reconnect attempts give up after 2 s: several fail while the signal is lost.
    frm->liveBuffer.openTimeoutSeconds = 2;
    ASSERT_NO_FATAL_FAILURE(openLive(sender.url()));
    ASSERT_TRUE(waitUntil([&] { return captures.size() >= 20 && captures.back().stored > 0; }, 20000));
    sender.stop();
    const int lastSent = sender.framesSent() - 1;
    const std::size_t atStop = captures.size();
    QElapsedTimer sinceStop;
    sinceStop.start();
    ASSERT_TRUE(waitUntil([&] { return strip().ends_with(kLost); }, 8000)) << strip();
    EXPECT_LT(sinceStop.elapsed(), 5000);
    // Lost: review steps back through the last picture held to the frames before the stop.
    const long steps = std::min<long>(kRingSize, static_cast<long>(captures.size() - atStop) + 3);
    const std::vector<Shown> shown = reviewBack(steps);
    ASSERT_FALSE(shown.empty());
    EXPECT_GT(framesBetween(shown.back().painted, shown.front().painted), 0) << "no frame from before the stop";
    // Playing on while still lost: the picture stays one of the last sent (mpv may
    // put out frames it held; the sender's count may miss its last few), never
    // black, and the ring keeps the frames from before the loss.
    frm->mnuViewPlay_Click();
    EXPECT_TRUE(displayIsConsistent());
    const std::size_t beforeRestart = captures.size();
    for (int i = 0; i < 10; ++i, spin(500)) {
        const int n = onScreenNow();
        EXPECT_TRUE(n > 0 && framesBetween(n, lastSent + 5) < 30) << "the screen shows " << n << ", the last sent " << lastSent;
    }
    EXPECT_TRUE(strip().ends_with(kLost)) << strip();
    EXPECT_EQ(captures.size(), beforeRestart);
    // The sender again, and no key pressed: the picture moves on at live.
    const std::size_t atRestart = captures.size();
    ASSERT_TRUE(sender.start()) << sender.log();
    ASSERT_TRUE(waitUntil(
        [&] { return strip() == "Playing    LIVE" && onScreenNow() != shown.front().painted; }, 15000)) << strip();
    ASSERT_TRUE(waitUntil([&] { return captures.size() >= atRestart + 10; }));
    expectCapturesHoldTheScreen(atRestart);
    // Moving on, at live (catching up may outpace the sender).
    const int back = onScreenNow();
    spin(1000);
    EXPECT_GT(framesBetween(back, onScreenNow()), 15);
    EXPECT_LT(behindSender(sender), 15);
    EXPECT_TRUE(desktop.boxes.empty()) << desktop.boxes.front();
}

TEST_F(EndToEndLive, SrtPlaysAndASilentPeerFailsWithinTheNetworkTimeout) {
    LiveSender sender(LiveSender::Protocol::Srt);
    ASSERT_TRUE(sender.start()) << sender.log();
    ASSERT_NO_FATAL_FAILURE(openLive(sender.url()));
    ASSERT_TRUE(waitUntil([&] { return onScreenNow() >= 0; }, 5000));
    const int first = onScreenNow();
    ASSERT_TRUE(waitUntil([&] { return framesBetween(first, onScreenNow()) >= 25; }, 5000));
    EXPECT_EQ(strip(), "Playing    LIVE");
    EXPECT_EQ(window->windowTitle().toStdString(), "Velmora - 127.0.0.1:" + std::to_string(sender.port()));
    // A listener that takes the call and never sends: the silence is named within
    // the network timeout, not the player's 15 s "did not finish loading".
    ASSERT_TRUE(sender.startSilent()) << sender.log();
    frm->liveBuffer.openTimeoutSeconds = 2;
    std::string waiting;  // the strip while the open waits
    QTimer::singleShot(1000, window.get(), [&] { waiting = strip(); });
    frm->OpenMedia(sender.url());
    EXPECT_EQ(waiting, "Opening...");
    EXPECT_EQ(player->playState(), play_state::kNoMedia);
    EXPECT_TRUE(waitUntil([&] { return strip() == "No media"; }, 1000)) << strip();
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes.front(), "Velmora: The stream " + sender.url() +
                                         " could not be opened: nothing arrived within 2 seconds.\r\n" +
                                         sender.url());
}

}  // namespace
}  // namespace velmora::testing
