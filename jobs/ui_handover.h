#pragma once

#include <functional>

namespace korvel {

// The worker's only way into the user interface: run a step on the
// user-interface thread. Steps run there in the order they were handed over,
// whichever of the two ways they came.
class UiHandover {
  public:
    virtual ~UiHandover() = default;
    // Blocks until the step has run: for a step the worker needs an answer from.
    virtual void Synchronize(const std::function<void()>& step) = 0;
    // Returns at once: for reports (progress, status) the worker needs nothing
    // back from, so that a run does not wake and wait for the user interface
    // at every report. The step must own what it uses.
    virtual void Post(std::function<void()> step) = 0;
};

}  // namespace korvel
