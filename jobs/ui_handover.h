#pragma once

#include <functional>

namespace korvel {

// The worker's only way into the user interface: run a step on the
// user-interface thread and block until it has run there.
class UiHandover {
  public:
    virtual ~UiHandover() = default;
    virtual void Synchronize(const std::function<void()>& step) = 0;
};

}  // namespace korvel
