// Playing behind live and the lost-signal watchdog, on the virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "playback/live_state.h"
#include "base/virtual_clock.h"

namespace velmora {
namespace {

TEST(LiveFollower, StripTextAndCatchUpStepByStep) {
    LiveFollower f;
    enum Do { Update, GoLive, Leave };
    const struct { Do what; double position, newest; bool playing; const char* text; double speed; } steps[] = {
        {Update, 10.0, 10.2, true, "LIVE", 1},
        {Update, 10.5, 11.8, true, "LIVE", 4},   // a stall: the lag grew past 1 s
        {Update, 11.5, 11.9, true, "LIVE", 4},   // still catching up ...
        {Update, 11.8, 12.0, true, "LIVE", 1},   // ... until within 0.3 s
        {Update, 12.0, 12.9, true, "LIVE", 1},   // below 1 s: no catch-up
        {Update, 12.0, 15.04, false, "-3.0 s", 1},  // paused: behind as the source arrives
        {Update, 13.0, 25.44, true, "-12.4 s", 1},  // playing on from where it paused
        {Leave, 0, 0, true, "-12.4 s", 1},
        {Update, 18.0, 26.0, true, "-8.0 s", 1},
        {GoLive, 0, 0, true, "LIVE", 4},            // catching up until within 0.3 s
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

// A live source and its player in steps of the cache poll: the newest frame comes at
// `rate` (a sender's clock a little off); the player plays at the follower's speed,
// holds while it gathers, and seeks where asked, as far back as it holds (`held` s).
struct DelayedPlayer {
    LiveFollower f;
    double newest = 0.3, position = 0.1, rate = 1, held = 1000;
    bool playing = true, stalled = false, lost = false;
    double worst = 0;  // the largest |lag - delay| while the delay is followed
    int seeks = 0;
    void step() {
        if (!lost) newest += 0.2 * rate;
        if (playing && !stalled && !f.gathering()) position += 0.2 * f.speed();
        if (lost) return;  // the player only plays out what it received
        f.update(position, newest, playing);
        if (f.seekWanted()) {
            const double target = std::clamp(newest - f.delay(), std::max(0.0, newest - held), newest);
            if (std::abs(target - position) > 0.5) ++seeks, position = target;
            f.sought();
            f.update(position, newest, playing);
        }
        if (f.following() && !f.gathering()) worst = std::max(worst, std::abs(f.behind() - f.delay()));
    }
    void run(double seconds) { for (int i = 0; i < std::lround(seconds / 0.2); ++i) step(); }
};

TEST(LiveFollower, DelayOfWholeSecondsGathersThenHoldsItsLagThroughPausesChangesAndStalls) {
    DelayedPlayer p;
    enum Do { Run, Delay, GoLive, Pause, Play, Stall, Rate, Held, Quiet, Lost, Back, Restart };
    // text nullptr: behind, not following; lag ±0.25, -1: not checked; seeks so far.
    const struct { Do what; double arg; const char* text; double lag; int seeks; } steps[] = {
        {Delay, 10, "Delay 10 s: 0 s gathered", -1, 0},  // a fresh open: nothing gathered yet
        {Run, 4, "Delay 10 s: 4 s gathered", 4.3, 0},    // held at the first frame meanwhile
        {Run, 6, "Delay 10 s", 10, 0},                 // gathered: playing from here
        {Rate, 1.002, "Delay 10 s", 10, 0},
        {Run, 600, "Delay 10 s", 10, 0},                 // a fast sender for 10 minutes: held by speed
        {Rate, 0.998, "Delay 10 s", 10, 0},
        {Run, 600, "Delay 10 s", 10, 0},                 // and a slow one
        {Rate, 1, "Delay 10 s", 10, 0},
        {Quiet, 2.2, "Delay 10 s: 7 s gathered", 7.9, 0},  // the source silent: the delay carries the picture
        {Play, 90, "Delay 10 s", 10, 0},                   // and the speed makes the lag up, nothing shown again
        {Lost, 3.5, nullptr, -1, 0},                     // the signal lost: the 10 s received play out
        {Back, 0, "Delay 10 s: 6 s gathered", 6.5, 0},   // back: the rest gathered, nothing shown again
        {Run, 4, "Delay 10 s", 10, 0},
        {Pause, 3, nullptr, 13, 0},                      // a pause leaves the delay ...
        {Play, 5, nullptr, 13, 0},                       // ... and playing on stays behind
        {GoLive, 0, "Delay 10 s", 10, 1},                // until Go Live returns to it
        {Stall, 3.2, "Delay 10 s", 10, 2},               // a stall past 3 s: a seek back to the delay
        {Delay, 20, "Delay 20 s", 20, 3},                // a change goes to the new delay at once
        {Held, 25.5, "Delay 20 s", 20, 3},
        {Delay, 30, "Delay 30 s: 25 s gathered", 25.5, 4},  // as far back as held, the rest gathered
        {Run, 5, "Delay 30 s", 30, 4},
        {Restart, 0, "Delay 30 s: 0 s gathered", 0.2, 5},  // the sender's clock starts again: sought, gathered
        {Run, 30, "Delay 30 s", 30, 5},
        {Delay, 3, "Delay 3 s", 3, 6},
        {Delay, 0, "LIVE", -1, 6},                       // back to live, catching up
    };
    for (const auto& s : steps) {
        switch (s.what) {
            // The lag is held within a quarter second throughout a run.
            case Run: p.worst = 0; p.run(s.arg); EXPECT_LE(p.worst, 0.25) << s.arg; break;
            // As the player does: Go Live with the new delay, then the next poll.
            case Delay: p.f.setDelay(s.arg); p.f.goLive(); p.step(); break;
            case GoLive: p.f.goLive(); p.step(); break;
            case Pause: p.playing = false; p.run(s.arg); break;
            case Play: p.playing = true; p.run(s.arg); break;
            case Stall: p.stalled = true; p.run(s.arg); p.stalled = false; p.step(); break;
            case Rate: p.rate = s.arg; break;
            case Held: p.held = s.arg; break;
            case Quiet: p.rate = 0; p.run(s.arg); p.rate = 1; break;
            case Lost: p.lost = true; p.f.leave(); p.run(s.arg); break;
            case Back: p.lost = false; p.f.rejoin(); p.step(); break;
            case Restart: p.newest = 0; p.step(); break;
        }
        SCOPED_TRACE(s.text ? s.text : "behind");
        EXPECT_EQ(s.text ? p.f.text() : "", s.text ? s.text : "");
        EXPECT_EQ(p.f.following(), s.text != nullptr);
        EXPECT_NEAR(s.lag >= 0 ? p.f.behind() : -1, s.lag, 0.25);
        EXPECT_EQ(p.seeks, s.seeks);
        // Gentle corrections only while the delay is followed.
        EXPECT_LE(p.f.delay() > 0 ? std::abs(p.f.speed() - 1) : 0, LiveFollower::kCorrection + 1e-9);
    }
    EXPECT_EQ(p.f.speed(), LiveFollower::kCatchUpSpeed);
    // The setting: whole seconds up to a minute.
    for (const auto& [text, seconds] : {std::pair{"5", 5}, {"60", 60}, {"007", 7}, {"", 0}, {"61", 0}, {"-3", 0},
                                        {"5.5", 0}, {"10 s", 0}, {"abc", 0}})
        EXPECT_EQ(liveDelayFromText(text), seconds) << text;
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
        dog.onRetry = [=, this] { note("retry"); if (failRetries) dog.retryFailed(); };
    }
    // Frames every 40 ms for `ms`.
    void frames(int ms) {
        for (int t = 0; t < ms; t += 40) { dog.arrived(); clock.advance(40); }
    }
};

TEST(SignalWatchdog, SilenceLosesTheSignalAndRetriesUntilFramesReturnButAHeldReaderIsNoLoss) {
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
    // A held reader (paused with a full cache: nothing is read) is no loss.
    Watched h;
    h.dog.start();
    h.dog.setHeld(true);
    h.clock.advance(60000);
    EXPECT_TRUE(h.log.empty());
    h.dog.setHeld(false);  // silence counts from here
    h.clock.advance(2500);
    EXPECT_FALSE(h.dog.lost());
    h.clock.advance(500);
    EXPECT_EQ(h.log.front(), "63000:lost");
}

}  // namespace
}  // namespace velmora
