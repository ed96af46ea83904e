// Playing behind live and the lost-signal watchdog, on the virtual clock.
#include <gtest/gtest.h>

#include "playback/live_state.h"
#include "base/virtual_clock.h"

namespace velmora {
namespace {

TEST(LiveFollower, StripTextAndCatchUpStepByStep) {
    LiveFollower f;
    enum Do { Update, GoLive, Leave };
    const struct {
        Do what;
        double position, newest;
        bool playing;
        const char* text;
        double speed;
    } steps[] = {
        {Update, 10.0, 10.2, true, "LIVE", 1},
        {Update, 10.5, 11.8, true, "LIVE", 4},   // a stall: the lag grew past 1 s
        {Update, 11.5, 11.9, true, "LIVE", 4},   // still catching up ...
        {Update, 11.8, 12.0, true, "LIVE", 1},   // ... until within 0.3 s
        {Update, 12.0, 12.9, true, "LIVE", 1},   // below 1 s: no catch-up
        {Update, 12.0, 15.04, false, "-3.0 s", 1},  // paused: the source keeps arriving
        {Update, 12.0, 24.44, false, "-12.4 s", 1},
        {Update, 13.0, 25.44, true, "-12.4 s", 1},  // playing on from where it paused
        {Leave, 0, 0, true, "-12.4 s", 1},
        {Update, 18.0, 26.0, true, "-8.0 s", 1},
        {GoLive, 0, 0, true, "LIVE", 4},            // sent to the last key frame, 0.9 s back
        {Update, 25.4, 26.3, true, "LIVE", 4},
        {Update, 26.2, 26.4, true, "LIVE", 1},
        {Update, 26.2, 26.2, false, "-0.0 s", 1},   // a pause at live is behind at once
        {Update, 26.3, 26.7, true, "LIVE", 1},      // and playing close to live follows it again
        {Update, 27.0, 26.9, true, "LIVE", 1},      // ahead of the newest frame is not behind
    };
    for (const auto& s : steps) {
        if (s.what == GoLive) f.goLive();
        if (s.what == Leave) f.leave();
        if (s.what == Update) f.update(s.position, s.newest, s.playing);
        EXPECT_EQ(f.text(), s.text) << s.position << " " << s.newest;
        EXPECT_EQ(f.speed(), s.speed) << s.position << " " << s.newest;
    }
    EXPECT_EQ(f.behind(), 0.0);
}

struct Watched {
    VirtualClock clock;
    SignalWatchdog dog{clock, SourceKind::Stream};
    std::vector<std::string> log;  // "ms:event"
    bool failRetries = true;

    Watched() {
        const auto note = [this](const char* what) { log.push_back(std::to_string(clock.now()) + ":" + what); };
        dog.onLost = [=] { note("lost"); };
        dog.onBack = [=] { note("back"); };
        dog.onRetry = [=, this] {
            note("retry");
            if (failRetries) dog.retryFailed();
        };
    }
    // Frames every 40 ms for `ms`.
    void frames(int ms) {
        for (int t = 0; t < ms; t += 40) {
            dog.arrived();
            clock.advance(40);
        }
    }
};

TEST(SignalWatchdog, SilenceLosesTheSignalAndRetriesUntilFramesReturn) {
    Watched w;
    w.dog.start();
    w.frames(2000);  // until 2000 ms
    EXPECT_FALSE(w.dog.lost());
    EXPECT_EQ(w.dog.text(), "");
    w.clock.advance(9000);
    // Six silent half-second steps; a retry at once, then every 3 s.
    EXPECT_EQ(w.log, (std::vector<std::string>{"4500:lost", "4500:retry", "7500:retry", "10500:retry"}));
    EXPECT_EQ(w.dog.text(), "Signal lost - reconnecting...");
    w.log.clear();
    w.frames(5000);
    EXPECT_EQ(w.log, (std::vector<std::string>{"11000:back"}));
    EXPECT_FALSE(w.dog.lost());

    // One attempt at a time: a reconnect still opening is not started again.
    w.failRetries = false;
    w.log.clear();
    w.dog.ended();  // the stream's end loses the signal at once
    w.clock.advance(7000);
    EXPECT_EQ(w.log, (std::vector<std::string>{"16000:lost", "16000:retry"}));
    w.dog.retryFailed();
    w.clock.advance(3000);
    EXPECT_EQ(w.log.back(), "25000:retry");

    // Closed: nothing more is asked for, a later end is not a loss.
    w.log.clear();
    w.dog.stop();
    w.dog.ended();
    w.clock.advance(20000);
    EXPECT_TRUE(w.log.empty());
    EXPECT_FALSE(w.dog.lost());
}

TEST(SignalWatchdog, AHeldReaderIsNoLossAndCamerasHaveTheirOwnWords) {
    Watched w;
    w.dog.start();
    w.dog.setHeld(true);  // paused with a full cache: nothing is read
    w.clock.advance(60000);
    EXPECT_TRUE(w.log.empty());
    w.dog.setHeld(false);  // silence counts from here
    w.clock.advance(2500);
    EXPECT_FALSE(w.dog.lost());
    w.clock.advance(500);
    EXPECT_EQ(w.log.front(), "63000:lost");

    VirtualClock clock;
    SignalWatchdog camera(clock, SourceKind::Camera);
    LiveFollower follower;
    EXPECT_EQ(liveStripText(follower, camera), "LIVE");
    camera.start();
    camera.ended();
    EXPECT_EQ(liveStripText(follower, camera), "Camera disconnected - waiting for it...");
}

}  // namespace
}  // namespace velmora
