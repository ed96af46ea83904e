// What a live source's player keeps track of beside the picture: how far
// behind the newest received frame it plays (and catching up when it
// follows live), and whether the source still sends (the lost-signal
// watchdog that asks for reconnects).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "playback/media_source.h"
#include "base/timer.h"

namespace velmora {

// The longest delay behind live a user can choose, in seconds.
inline constexpr int kMaxLiveDelay = 60;

// The delay behind live as the settings file holds it: a whole number of
// seconds from 0 to kMaxLiveDelay; anything else (missing, text, a fraction,
// out of range) is 0, no delay.
int liveDelayFromText(std::string_view text);

// Playback against the live edge, or a chosen delay behind it.  Times are
// the stream's seconds: the play position and the time of the newest frame
// received.
//
// Without a delay the player follows live: it catches up at a higher speed
// when the lag grows.  With a delay d it first gathers d seconds (the
// picture held while the source keeps arriving), then plays d seconds
// behind the newest frame, holding that lag with speeds a few percent off 1
// and, when it is off by seconds (a stall), with a seek back to d.
class LiveFollower {
public:
    // While following live, a lag above this has grown (a stall, a slower
    // clock): playback speeds up ...
    static constexpr double kCatchUpAbove = 1.0;
    // ... until it is this close again.
    static constexpr double kCatchUpUntil = 0.3;
    static constexpr double kCatchUpSpeed = 4.0;
    // Playing this close to the newest frame (or to the delay) is following it.
    static constexpr double kRejoinWithin = 0.5;
    // With a delay: a lag off by more than this is corrected by the speed ...
    static constexpr double kCorrectAbove = 0.1;
    // ... which is this much off 1 until the lag is back within kCorrectUntil.
    static constexpr double kCorrection = 0.03;
    static constexpr double kCorrectUntil = 0.02;
    // Further behind than the delay by more than this: a seek to the delay.
    static constexpr double kSeekAbove = 3.0;
    // Less behind than the delay by more than this: a seek back to it, and
    // what is not held that far back is gathered.
    static constexpr double kGatherBelow = 0.5;

    // Seconds behind the newest frame to play at; 0 follows live.  The
    // player goes there with goLive().
    void setDelay(double seconds) { delay_ = seconds > 0 ? seconds : 0; }
    double delay() const { return delay_; }

    // The player's state now; `playing` is false while paused (review,
    // F7, slow speed between its steps).  A pause leaves live (and the
    // delay): the source keeps arriving, the picture stays behind.
    void update(double position, double newest, bool playing);
    // A fresh open or Go Live: the player was sent to the newest frame it
    // can seek to (a key frame, up to one group of pictures back) and
    // catches up from there; with a delay it goes to the delay (see
    // seekWanted()).
    void goLive();
    // The user moved back (F4, a seek): playback stays behind.
    void leave();
    // The source is back after playback left it while the signal was lost:
    // following again, what is missing of the delay is gathered rather than
    // sought back to (which would show again what was just played).
    void rejoin();

    // With a delay: the player is to seek to newest - delay, as far back as
    // it holds, and call sought() (also when it did not need to move).
    bool seekWanted() const { return seekWanted_; }
    void sought();
    // With a delay: the picture is to be held (paused, still receiving)
    // until the delay is gathered.
    bool gathering() const { return following_ && gathering_; }

    bool following() const { return following_; }
    // Seconds behind the newest frame, never negative.
    double behind() const { return behind_; }
    // The speed the player plays at now: 1, faster while catching up, a
    // little off 1 while holding the delay.
    double speed() const;
    // "LIVE" while following live; "Delay 10 s: 4 s gathered" and then
    // "Delay 10 s" while following the delay; otherwise how far behind:
    // "-12.4 s".
    std::string text() const;

private:
    void holdDelay(bool quiet);

    double delay_ = 0;
    double behind_ = 0;
    double newest_ = 0;  // at the last update
    bool following_ = true;
    bool catchingUp_ = false;
    bool gathering_ = false;
    bool seekWanted_ = false;
    bool sought_ = false;       // the last seek to the delay is done; no other until the lag is held
    int correcting_ = 0;        // +1 faster, -1 slower, 0 at speed 1
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
    // While lost: a reconnect asked for now, unless one is under way.
    void retryNow();

    bool lost() const { return lost_; }
    // What the strip says while the signal is lost ("" while it is not),
    // also while what arrived before is still being played.
    std::string text(bool playingOut = false) const;

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
std::string liveStripText(const LiveFollower& follower, const SignalWatchdog& watchdog, bool playingOut = false);

}  // namespace velmora
