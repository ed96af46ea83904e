// Waiting on Qt's event loop in tests and benchmarks: bounded by a deadline,
// never by sleeping blindly.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace velmora::testing {

// Runs the event loop, sleeping between events, until the condition holds;
// false when `ms` passed first.
template <typename Condition>
bool waitUntil(Condition condition, int ms = 10000) {
    QDeadlineTimer deadline(ms);
    QTimer tick;  // wakes the loop to look at the condition again
    tick.start(5);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the event loop (nested, as under a modal dialog) for `ms`.
inline void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace velmora::testing
