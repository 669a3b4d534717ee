#pragma once

#include <optional>
#include <string>

namespace korvel::cli {

// A progress bar's numbers as the headless front end shows them. Positions
// are held within 0 to the maximum, and a smaller maximum pulls the position
// down with it, as the window's bar does.
class ConsoleProgress {
  public:
    void setMaximum(int maximum);
    void setPosition(int position);
    int position() const { return position_; }
    // 0 to 100; 0 while there is nothing to measure (a maximum of 0).
    int percent() const;
    // The tenth reached (0 to 10) when it is not the one this returned
    // last, for output that cannot redraw a bar.
    std::optional<int> newTenth();
    // "[#####     ]  50%": width cells filled by the percentage.
    std::string bar(int width) const;

  private:
    int maximum_ = 100;
    int position_ = 0;
    int lastTenth_ = -1;
};

}  // namespace korvel::cli
