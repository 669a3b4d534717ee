#include "cli/run_watch.h"

#include <utility>

#include "cli/cli_platform.h"

namespace korvel::cli {

StopRelay::StopRelay(std::function<bool()> stop, std::string stopping, std::string cannotStop,
                     std::function<void(const std::string&)> say)
    : stop_(std::move(stop)),
      stopping_(std::move(stopping)),
      cannotStop_(std::move(cannotStop)),
      say_(std::move(say)) {}

void StopRelay::Request() {
    if (told_ == Told::CannotStop) {
        return;
    }
    if (!stop_()) {
        told_ = Told::CannotStop;
        say_(cannotStop_);
    } else if (told_ == Told::Nothing) {
        told_ = Told::Stopping;
        say_(stopping_);
    }
}

std::vector<std::string> FailureDetails(RunResult result, const GenericThread& thread) {
    std::vector<std::string> lines;
    if (result == RunResult::PortNotOpened) {
        lines.push_back(OpenAdvice(thread.portDevice(), thread.portFailure()));
    }
    if (result == RunResult::ProgrammingError && !thread.failureText().empty()) {
        // The board or its adapter went away, or the line failed otherwise.
        lines.push_back("The run stopped on an error of the serial line or the system: " +
                        thread.failureText());
    }
    return lines;
}

}  // namespace korvel::cli
