#pragma once

#include <string>

namespace korvel {

// The window's controls as the core sees them; front ends implement these.
class ProgressTarget {
  public:
    virtual ~ProgressTarget() = default;
    virtual void setMaximum(int maximum) = 0;
    virtual void setPosition(int position) = 0;
    virtual int position() const = 0;
};

class StatusTarget {
  public:
    virtual ~StatusTarget() = default;
    // Replaces the shown text and repaints at once.
    virtual void setText(const std::string& text) = 0;
};

class StatusLog {
  public:
    virtual ~StatusLog() = default;
    virtual void append(const std::string& line) = 0;
};

}  // namespace korvel
