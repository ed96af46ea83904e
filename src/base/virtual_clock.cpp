#include "base/virtual_clock.h"

namespace velmora {

void VirtualClock::arm(Timer& timer, int intervalMs) {
    armed_[&timer] = Entry{now_ + intervalMs, seq_++, intervalMs};
}

void VirtualClock::disarm(Timer& timer) { armed_.erase(&timer); }

void VirtualClock::advance(std::int64_t ms) {
    const std::int64_t target = now_ + ms;
    for (;;) {
        Timer* next = nullptr;
        Entry best{};
        for (auto& [t, e] : armed_) {
            if (e.due > target) continue;
            if (!next || std::tie(e.due, e.seq) < std::tie(best.due, best.seq)) {
                next = t;
                best = e;
            }
        }
        if (!next) break;
        now_ = best.due;
        // Reschedule before the tick: the handler may stop or re-arm the timer.
        armed_[next] = Entry{best.due + best.interval, seq_++, best.interval};
        next->tick();
    }
    now_ = target;
}

}  // namespace velmora
