// Timers with the rules the program relies on:
//  - an interval of 0 never fires, even while the timer is enabled;
//  - switching a timer on from off, or changing the interval of an enabled
//    timer, starts its interval afresh;
//  - a handler is never re-entered: a tick that comes due while the handler
//    still runs (a nested event loop) is dropped.
// The clock behind the timers is a TimerHost: Qt's event loop in the program,
// a virtual clock in tests.
#pragma once

#include <functional>
#include <string>

namespace velmora {

class Timer;

class TimerHost {
public:
    virtual ~TimerHost() = default;
    // Schedule `timer` to tick every `intervalMs` from now on (replacing any schedule).
    virtual void arm(Timer& timer, int intervalMs) = 0;
    // Stop ticking `timer`.
    virtual void disarm(Timer& timer) = 0;
};

class Timer {
public:
    Timer(TimerHost& host, std::string name, int intervalMs = 0);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    const std::string& name() const { return name_; }
    bool enabled() const { return enabled_; }
    int interval() const { return interval_; }

    void setEnabled(bool on);
    void setInterval(int ms);
    void setHandler(std::function<void()> handler) { handler_ = std::move(handler); }

    // Called by the host when the interval has elapsed.
    void tick();

    // Host-private slot for its own bookkeeping.
    void* hostData = nullptr;

private:
    void reschedule();

    TimerHost& host_;
    std::string name_;
    int interval_;
    bool enabled_ = false;
    bool inHandler_ = false;
    std::function<void()> handler_;
};

}  // namespace velmora
