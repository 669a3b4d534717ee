#include "cli/run_watch.h"

#include <utility>

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

}  // namespace korvel::cli
