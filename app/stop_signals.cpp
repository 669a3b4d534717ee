#include "app/stop_signals.h"

#include "app/tfrm_main.h"

namespace korvel::app {

void StopUnattendedWindow(TfrmMain& window, int count, const std::function<void(int)>& endAtOnce) {
    constexpr int kExitStopped = static_cast<int>(RunResult::Aborted);
    if (count > 1 || !window.running()) {
        endAtOnce(kExitStopped);
        return;
    }
    // As a close during a run: the run is asked to stop, and its end (the
    // port closed) ends the unattended process with its result.
    window.close();
}

}  // namespace korvel::app
