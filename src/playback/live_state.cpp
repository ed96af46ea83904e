#include "playback/live_state.h"

#include <algorithm>
#include <cmath>

namespace velmora {

// ---- LiveFollower ----

int liveDelayFromText(std::string_view text) {
    if (text.empty() || text.size() > 4) return 0;
    int seconds = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return 0;
        seconds = seconds * 10 + (c - '0');
    }
    return seconds <= kMaxLiveDelay ? seconds : 0;
}

void LiveFollower::update(double position, double newest, bool playing) {
    behind_ = std::max(0.0, newest - position);
    // Nothing newer since the last look; a smaller time is a new timeline
    // (the sender started again), not silence.
    const bool quiet = newest == newest_;
    newest_ = newest;
    if (!playing) {
        following_ = catchingUp_ = gathering_ = seekWanted_ = sought_ = false;
        correcting_ = 0;
        return;
    }
    if (!following_ && std::abs(behind_ - delay_) <= kRejoinWithin) following_ = true;
    if (!following_) return;
    if (delay_ > 0) return holdDelay(quiet);
    if (behind_ > kCatchUpAbove) catchingUp_ = true;
    if (behind_ < kCatchUpUntil) catchingUp_ = false;
}

void LiveFollower::holdDelay(bool quiet) {
    if (seekWanted_) return;  // the player has yet to move
    const double off = behind_ - delay_;
    if (gathering_) {
        if (off < 0) return;
        gathering_ = false;  // gathered: play from here
    }
    // Short of the delay while holding it: the source sent nothing new for
    // a while (or is silent still), and the delay carried the picture
    // through.  The speed makes up a few seconds; a seek back would show
    // again what was just shown.
    const bool carried = off < -kGatherBelow && !sought_ && (quiet || off >= -kSeekAbove);
    if (!carried && (off > kSeekAbove || off < -kGatherBelow)) {
        correcting_ = 0;
        // Once sent to the delay and still short of it, the rest is
        // gathered; too far behind it, the speed corrects what is left.
        if (!sought_) seekWanted_ = true;
        else if (off < 0) gathering_ = true;
        if (seekWanted_ || gathering_) return;
    } else if (std::abs(off) <= kGatherBelow) {
        sought_ = false;
    }
    if (correcting_ == 0 && std::abs(off) > kCorrectAbove) correcting_ = off > 0 ? 1 : -1;
    if (correcting_ != 0 && off * correcting_ < kCorrectUntil) correcting_ = 0;
}

void LiveFollower::goLive() {
    following_ = catchingUp_ = true;
    gathering_ = sought_ = false;
    correcting_ = 0;
    // With a delay the player is sent to it at the next update.
    seekWanted_ = delay_ > 0;
}

void LiveFollower::sought() {
    seekWanted_ = false;
    sought_ = true;
}

void LiveFollower::leave() {
    following_ = catchingUp_ = gathering_ = seekWanted_ = sought_ = false;
    correcting_ = 0;
}

void LiveFollower::rejoin() {
    following_ = true;
    catchingUp_ = gathering_ = seekWanted_ = false;
    sought_ = true;
    correcting_ = 0;
}

double LiveFollower::speed() const {
    if (!following_) return 1.0;
    if (delay_ > 0) return 1.0 + correcting_ * kCorrection;
    return catchingUp_ ? kCatchUpSpeed : 1.0;
}

std::string LiveFollower::text() const {
    if (following_ && delay_ > 0) {
        const std::string chosen = "Delay " + std::to_string(std::llround(delay_)) + " s";
        if (!gathering_ && behind_ >= delay_ - kGatherBelow) return chosen;
        // Whole seconds received so far, short of the delay.
        const long long gathered = std::min(std::llround(delay_) - 1, static_cast<long long>(behind_));
        return chosen + ": " + std::to_string(std::max(0ll, gathered)) + " s gathered";
    }
    if (following_) return "LIVE";
    // Tenths by hand: the decimal point does not depend on the locale.
    const long long tenths = std::llround(behind_ * 10);
    return "-" + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

// ---- SignalWatchdog ----

SignalWatchdog::SignalWatchdog(TimerHost& timers, SourceKind kind, int lostAfterMs, int retryEveryMs)
    : kind_(kind), lostAfterMs_(lostAfterMs), check_(timers, "SignalCheck", kCheckMs),
      retry_(timers, "SignalRetry", retryEveryMs) {
    check_.setHandler([this] {
        if (lost_ || held_) return;
        silentMs_ += kCheckMs;
        if (silentMs_ >= lostAfterMs_) lose();
    });
    retry_.setHandler([this] {
        if (!attempting_) attempt();
    });
}

void SignalWatchdog::start() {
    stop();
    check_.setEnabled(true);
}

void SignalWatchdog::stop() {
    check_.setEnabled(false);
    retry_.setEnabled(false);
    silentMs_ = 0;
    lost_ = held_ = attempting_ = false;
}

void SignalWatchdog::arrived() {
    silentMs_ = 0;
    if (!lost_) return;
    lost_ = attempting_ = false;
    retry_.setEnabled(false);
    if (onBack) onBack();
}

void SignalWatchdog::ended() {
    if (check_.enabled() && !lost_) lose();
}

void SignalWatchdog::setHeld(bool held) {
    held_ = held;
    silentMs_ = 0;
}

void SignalWatchdog::retryFailed() { attempting_ = false; }

void SignalWatchdog::retryNow() {
    if (lost_ && !attempting_) attempt();
}

void SignalWatchdog::lose() {
    lost_ = true;
    if (onLost) onLost();
    retry_.setEnabled(true);
    attempt();
}

void SignalWatchdog::attempt() {
    attempting_ = true;
    if (onRetry) onRetry();
}

std::string SignalWatchdog::text(bool playingOut) const {
    if (!lost_) return {};
    const bool camera = kind_ == SourceKind::Camera;
    return std::string(camera ? "Camera disconnected" : "Signal lost") +
           (playingOut ? " - playing what arrived..." : camera ? " - waiting for it..." : " - reconnecting...");
}

std::string liveStripText(const LiveFollower& follower, const SignalWatchdog& watchdog, bool playingOut) {
    return watchdog.lost() ? watchdog.text(playingOut) : follower.text();
}

}  // namespace velmora
