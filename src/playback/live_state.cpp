#include "playback/live_state.h"

#include <algorithm>
#include <cmath>

namespace velmora {

// ---- LiveFollower ----

void LiveFollower::update(double position, double newest, bool playing) {
    behind_ = std::max(0.0, newest - position);
    if (!playing) {
        following_ = catchingUp_ = false;
        return;
    }
    if (!following_ && behind_ <= kRejoinWithin) following_ = true;
    if (!following_) return;
    if (behind_ > kCatchUpAbove) catchingUp_ = true;
    if (behind_ < kCatchUpUntil) catchingUp_ = false;
}

void LiveFollower::goLive() { following_ = catchingUp_ = true; }

void LiveFollower::leave() { following_ = catchingUp_ = false; }

std::string LiveFollower::text() const {
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

std::string SignalWatchdog::text() const {
    if (!lost_) return {};
    return kind_ == SourceKind::Camera ? "Camera disconnected - waiting for it..." : "Signal lost - reconnecting...";
}

std::string liveStripText(const LiveFollower& follower, const SignalWatchdog& watchdog) {
    return watchdog.lost() ? watchdog.text() : follower.text();
}

}  // namespace velmora
