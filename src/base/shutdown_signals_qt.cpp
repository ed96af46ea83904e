#include "base/shutdown_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace velmora {

namespace {

int pipeFds[2] = {-1, -1};
struct sigaction previousTerm {};
struct sigaction previousInt {};

// Async-signal-safe: one write to a non-blocking pipe.
void onSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

}  // namespace

ShutdownSignals::ShutdownSignals(std::function<void()> callback) : onSignal_(std::move(callback)) {
    if (pipeFds[0] >= 0 || ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;  // one at a time
    ownsPipe_ = true;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &previousTerm);
    ::sigaction(SIGINT, &action, &previousInt);
    handlersInstalled_ = true;

    notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
        char buffer[16];
        while (::read(pipeFds[0], buffer, sizeof buffer) > 0) {
        }
        if (!handlersInstalled_) return;
        restoreHandlers();
        if (onSignal_) onSignal_();
    });
}

ShutdownSignals::~ShutdownSignals() {
    restoreHandlers();
    notifier_.reset();
    if (!ownsPipe_) return;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void ShutdownSignals::restoreHandlers() {
    if (!handlersInstalled_) return;
    handlersInstalled_ = false;
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    ::sigaction(SIGINT, &previousInt, nullptr);
}

}  // namespace velmora
