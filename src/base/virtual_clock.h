// A clock for tests: time moves only when the test advances it, and every
// timer that comes due fires in order of its due time.
#pragma once

#include <cstdint>
#include <map>
#include <tuple>

#include "base/timer.h"

namespace velmora {

class VirtualClock : public TimerHost {
public:
    void arm(Timer& timer, int intervalMs) override;
    void disarm(Timer& timer) override;

    // Move time forward by `ms`, firing every tick that falls due on the way
    // (a tick due exactly at the new time fires too).
    void advance(std::int64_t ms);
    std::int64_t now() const { return now_; }

private:
    struct Entry {
        std::int64_t due;
        std::uint64_t seq;
        int interval;
    };
    std::int64_t now_ = 0;
    std::uint64_t seq_ = 0;
    std::map<Timer*, Entry> armed_;
};

}  // namespace velmora
