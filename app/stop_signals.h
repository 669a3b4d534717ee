#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace korvel::app {

class TfrmMain;

// The system's requests to end the program (on POSIX SIGTERM and SIGHUP, a
// supervisor's or a closed session's), taken out of the signal handler onto
// the event loop: onRequest runs there with how many came so far. One at a
// time; the signals' defaults come back when it is destroyed. Windows sends
// a window no such signals: there it watches nothing.
class StopSignals {
  public:
    explicit StopSignals(std::function<void(int count)> onRequest);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

  private:
    std::function<void(int)> onRequest_;
    std::unique_ptr<QSocketNotifier> notifier_;
    int count_ = 0;
};

// What the unattended window does at a stop request, as korvel-cli does: the
// first stops the run, and the window ends the process with the run's result
// once the run has closed its port and reported (5 when it stopped); with no
// run under way, and at a second request, endAtOnce(5).
void StopUnattendedWindow(TfrmMain& window, int count, const std::function<void(int)>& endAtOnce);

}  // namespace korvel::app
