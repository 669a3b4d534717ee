#include "app/stop_signals.h"

namespace korvel::app {

// A window on Windows is asked to end by its messages (closeEvent), never by
// a signal: there is nothing to watch.
StopSignals::StopSignals(std::function<void(int)> onRequest) : onRequest_(std::move(onRequest)) {}

StopSignals::~StopSignals() = default;

}  // namespace korvel::app
