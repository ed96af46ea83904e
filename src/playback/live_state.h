// What a live source's player keeps track of beside the picture: how far
// behind the newest received frame it plays (and catching up when it
// follows live), and whether the source still sends (the lost-signal
// watchdog that asks for reconnects).
#pragma once

#include <functional>
#include <string>

#include "playback/media_source.h"
#include "base/timer.h"

namespace velmora {

// Playback against the live edge.  Times are the stream's seconds: the play
// position and the time of the newest frame received.
class LiveFollower {
public:
    // While following live, a lag above this has grown (a stall, a slower
    // clock): playback speeds up ...
    static constexpr double kCatchUpAbove = 1.0;
    // ... until it is this close again.
    static constexpr double kCatchUpUntil = 0.3;
    static constexpr double kCatchUpSpeed = 4.0;
    // Playing this close to the newest frame is following live.
    static constexpr double kRejoinWithin = 0.5;

    // The player's state now; `playing` is false while paused (review,
    // F7, slow speed between its steps).  A pause leaves live: the source
    // keeps arriving, the picture stays behind.
    void update(double position, double newest, bool playing);
    // A fresh open or Go Live: the player was sent to the newest frame it
    // can seek to (a key frame, up to one group of pictures back) and
    // catches up from there.
    void goLive();
    // The user moved back (F4, a seek): playback stays behind.
    void leave();

    bool following() const { return following_; }
    // Seconds behind the newest frame, never negative.
    double behind() const { return behind_; }
    // The speed the player plays at now: 1, or faster while catching up.
    double speed() const { return following_ && catchingUp_ ? kCatchUpSpeed : 1.0; }
    // "LIVE" while following live, otherwise how far behind: "-12.4 s".
    std::string text() const;

private:
    double behind_ = 0;
    bool following_ = true;
    bool catchingUp_ = false;
};

// Watches that a live source still sends.  Silence for `lostAfterMs`, give
// or take one check step (UDP and RTP just stop), or the source's end (HTTP, SRT, RTSP end; a camera
// that is unplugged fails) loses the signal; a reconnect is asked for at
// once and then every `retryEveryMs`, one attempt at a time, until
// something arrives again.
class SignalWatchdog {
public:
    // Silence is measured in steps of this.
    static constexpr int kCheckMs = 500;

    SignalWatchdog(TimerHost& timers, SourceKind kind, int lostAfterMs = 3000, int retryEveryMs = 3000);

    // The source opened: from now on it is expected to send.
    void start();
    // The source was closed (another open, the window closing): nothing is watched.
    void stop();
    // Something arrived from the source: a packet received or a frame decoded.
    void arrived();
    // The source reported its end or an error.
    void ended();
    // The player stopped reading on purpose (its cache is full while
    // paused): silence meanwhile is no loss.
    void setHeld(bool held);
    // The reconnect attempt asked for is over without a picture.
    void retryFailed();

    bool lost() const { return lost_; }
    // What the strip says while the signal is lost ("" while it is not).
    std::string text() const;

    // The signal is lost; reconnect (the session opens the source again and
    // then calls retryFailed() or arrived()); the signal is back.
    std::function<void()> onLost;
    std::function<void()> onRetry;
    std::function<void()> onBack;

private:
    void lose();
    void attempt();

    SourceKind kind_;
    int lostAfterMs_;
    Timer check_;
    Timer retry_;
    int silentMs_ = 0;
    bool lost_ = false;
    bool held_ = false;
    bool attempting_ = false;
};

// What the player's strip says of a live source: the lost signal, or else
// LIVE or how far behind it plays.
std::string liveStripText(const LiveFollower& follower, const SignalWatchdog& watchdog);

}  // namespace velmora
