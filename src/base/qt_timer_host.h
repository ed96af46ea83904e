// Drives the program's timers from Qt's event loop.
#pragma once

#include <QObject>

#include "base/timer.h"

namespace velmora {

// One QTimer per armed Timer, kept in Timer::hostData.  QTimers keep firing
// while a modal dialog or any other nested event loop runs.
class QtTimerHost : public TimerHost {
public:
    QtTimerHost();
    ~QtTimerHost() override;
    QtTimerHost(const QtTimerHost&) = delete;
    QtTimerHost& operator=(const QtTimerHost&) = delete;

    void arm(Timer& timer, int intervalMs) override;
    void disarm(Timer& timer) override;

private:
    QObject owner_;  // parent of every QTimer
};

}  // namespace velmora
