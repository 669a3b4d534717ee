#include "cli/console_progress.h"

#include <algorithm>
#include <cstdio>

namespace korvel::cli {

void ConsoleProgress::setMaximum(int maximum) {
    maximum_ = maximum;
    position_ = std::min(position_, maximum_);
}

void ConsoleProgress::setPosition(int position) {
    position_ = std::clamp(position, 0, std::max(maximum_, 0));
}

int ConsoleProgress::percent() const {
    if (maximum_ <= 0) {
        return 0;
    }
    return static_cast<int>(100LL * std::clamp(position_, 0, maximum_) / maximum_);
}

std::optional<int> ConsoleProgress::newTenth() {
    const int tenth = percent() / 10;
    if (tenth == lastTenth_) {
        return std::nullopt;
    }
    lastTenth_ = tenth;
    return tenth;
}

std::string ConsoleProgress::bar(int width) const {
    const int filled = percent() * width / 100;
    char shown[16];
    std::snprintf(shown, sizeof shown, "] %3d%%", percent());
    std::string text(1, '[');
    text.append(static_cast<std::size_t>(filled), '#');
    text.append(static_cast<std::size_t>(width - filled), ' ');
    return text + shown;
}

}  // namespace korvel::cli
