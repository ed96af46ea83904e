// SIGTERM and SIGINT (a desktop logging out, Ctrl+C in a terminal) end the
// program the way File > Exit does.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace velmora {

// While it exists, SIGTERM and SIGINT call `onSignal` on the event loop,
// once. The signal handler only writes a byte to a pipe; a second signal
// after that ends the program at once, as if none were caught.
class ShutdownSignals {
public:
    explicit ShutdownSignals(std::function<void()> onSignal);
    ~ShutdownSignals();
    ShutdownSignals(const ShutdownSignals&) = delete;
    ShutdownSignals& operator=(const ShutdownSignals&) = delete;

private:
    void restoreHandlers();

    std::function<void()> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool handlersInstalled_ = false;
    bool ownsPipe_ = false;
};

}  // namespace velmora
