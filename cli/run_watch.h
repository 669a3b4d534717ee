#pragma once

#include <functional>
#include <string>

namespace korvel::cli {

// Passes the user's stop requests on to the runs under way and says once
// what they do about it. A run whose procedure is not yet known is asked
// again on every request, so that one that cannot be stopped still says so.
class StopRelay {
  public:
    // stop: asks every run to stop; false when one cannot be stopped.
    // stopping, cannotStop: what the user is told; say: where.
    StopRelay(std::function<bool()> stop, std::string stopping, std::string cannotStop,
              std::function<void(const std::string&)> say);

    // Called from the serving loop whenever a stop was asked for.
    void Request();

  private:
    enum class Told { Nothing, Stopping, CannotStop };

    std::function<bool()> stop_;
    std::string stopping_;
    std::string cannotStop_;
    std::function<void(const std::string&)> say_;
    Told told_ = Told::Nothing;
};

}  // namespace korvel::cli
