#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "app/stop_signals.h"

namespace korvel::app {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP};
// The handler's only way out: a byte down a pipe that the event loop reads.
int wakeRead = -1;
int wakeWrite = -1;

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    if (::write(wakeWrite, &byte, 1) < 0) {
        // A full pipe already holds requests enough to end the program.
    }
    errno = saved;
}

}  // namespace

StopSignals::StopSignals(std::function<void(int)> onRequest) : onRequest_(std::move(onRequest)) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;  // no watch: the signals keep their defaults and end the program
    }
    wakeRead = ends[0];
    wakeWrite = ends[1];
    notifier_ = std::make_unique<QSocketNotifier>(wakeRead, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        char bytes[16];
        ssize_t n = 0;
        while ((n = ::read(wakeRead, bytes, sizeof bytes)) > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                onRequest_(++count_);
            }
        }
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        ::sigaction(signal, &action, nullptr);
    }
}

StopSignals::~StopSignals() {
    if (!notifier_) {
        return;
    }
    for (const int signal : kSignals) {
        std::signal(signal, SIG_DFL);
    }
    notifier_.reset();
    ::close(wakeRead);
    ::close(wakeWrite);
    wakeRead = wakeWrite = -1;
}

}  // namespace korvel::app
