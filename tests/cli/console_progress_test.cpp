#include "cli/console_progress.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace korvel::cli {
namespace {

// One step of a run's reports and what the console's bar shows after it.
struct Step {
    bool maximum;  // setMaximum, else setPosition
    int value;
    int position;
    std::string bar;
    std::optional<int> tenth;  // a plain-line console prints this tenth
};

TEST(ConsoleProgressTest, BarHoldsItsEndsAndPlainLinesGetEachTenthOnce) {
    const std::vector<Step> steps = {
        {false, 5, 5, "[          ]   5%", 0},
        {false, -3, 0, "[          ]   0%", std::nullopt},
        {false, 57, 57, "[#####     ]  57%", 5},
        {false, 59, 59, "[#####     ]  59%", std::nullopt},
        // A smaller maximum pulls the position down with it.
        {true, 40, 40, "[##########] 100%", 10},
        {false, INT_MAX, 40, "[##########] 100%", std::nullopt},
        // Nothing to measure: an empty bar, never a division by zero.
        {true, 0, 0, "[          ]   0%", 0},
        {false, 7, 0, "[          ]   0%", std::nullopt},
        {true, -5, -5, "[          ]   0%", std::nullopt},
        // Large counts do not overflow the percentage.
        {true, INT_MAX, -5, "[          ]   0%", std::nullopt},
        {false, INT_MAX - 1, INT_MAX - 1, "[######### ]  99%", 9},
    };
    ConsoleProgress progress;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        if (s.maximum) {
            progress.setMaximum(s.value);
        } else {
            progress.setPosition(s.value);
        }
        EXPECT_EQ(progress.position(), s.position);
        EXPECT_EQ(progress.bar(10), s.bar);
        EXPECT_EQ(progress.newTenth(), s.tenth);
    }
}

}  // namespace
}  // namespace korvel::cli
