#include "base/timer.h"

namespace velmora {

Timer::Timer(TimerHost& host, std::string name, int intervalMs)
    : host_(host), name_(std::move(name)), interval_(intervalMs) {}

Timer::~Timer() { host_.disarm(*this); }

void Timer::setEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    reschedule();
}

void Timer::setInterval(int ms) {
    if (ms < 0) ms = 0;
    if (ms == interval_) return;
    interval_ = ms;
    reschedule();
}

void Timer::reschedule() {
    if (enabled_ && interval_ > 0)
        host_.arm(*this, interval_);
    else
        host_.disarm(*this);
}

void Timer::tick() {
    if (!enabled_ || interval_ <= 0 || inHandler_ || !handler_) return;
    inHandler_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{inHandler_};
    handler_();
}

}  // namespace velmora
