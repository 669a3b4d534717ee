#pragma once

#include <stdexcept>
#include <string>

namespace korvel {

// An operating-system failure on a serial device. Carries the system's own
// error code and its text so that a front end can say what went wrong.
class SerialError : public std::runtime_error {
  public:
    SerialError(const std::string& operation, int code, const std::string& systemText)
        : std::runtime_error(operation + ": " + systemText + " (error " + std::to_string(code) +
                             ")"),
          code_(code),
          systemText_(systemText) {}

    int code() const { return code_; }
    const std::string& systemText() const { return systemText_; }

  private:
    int code_;
    std::string systemText_;
};

}  // namespace korvel
