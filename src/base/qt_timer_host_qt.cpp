#include "base/qt_timer_host.h"

#include <QTimer>

namespace velmora {

QtTimerHost::QtTimerHost() = default;

// owner_ deletes the remaining QTimers.
QtTimerHost::~QtTimerHost() = default;

void QtTimerHost::arm(Timer& timer, int intervalMs) {
    auto* qt = static_cast<QTimer*>(timer.hostData);
    if (!qt) {
        qt = new QTimer(&owner_);
        // Capture intervals go down to 50 ms; a coarse timer would drift by 5 %.
        qt->setTimerType(Qt::PreciseTimer);
        Timer* t = &timer;
        QObject::connect(qt, &QTimer::timeout, &owner_, [t] { t->tick(); });
        timer.hostData = qt;
    }
    // start() on a running QTimer restarts its interval from now.
    qt->start(intervalMs);
}

void QtTimerHost::disarm(Timer& timer) {
    auto* qt = static_cast<QTimer*>(timer.hostData);
    if (!qt) return;
    // The Timer may be on its way out (its destructor disarms it), so the
    // QTimer goes with it.  It may also be emitting right now (a handler that
    // switches its own timer off), hence deleteLater.
    qt->stop();
    QObject::disconnect(qt, nullptr, &owner_, nullptr);
    qt->deleteLater();
    timer.hostData = nullptr;
}

}  // namespace velmora
