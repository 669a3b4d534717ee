#pragma once

#include <string>
#include <vector>

#include "jobs/ui_targets.h"

namespace korvel::test {

// Window controls that remember what they were told.
struct RecordingBar : ProgressTarget {
    void setMaximum(int m) override { maximum = m; }
    void setPosition(int p) override { pos = p; }
    int position() const override { return pos; }
    int maximum = 100;
    int pos = 0;
};

struct RecordingStatus : StatusTarget {
    void setText(const std::string& t) override { texts.push_back(t); }
    std::vector<std::string> texts;
};

struct RecordingLog : StatusLog {
    void append(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

}  // namespace korvel::test
