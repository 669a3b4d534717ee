#include "app/progress_bar_control.h"

#include <algorithm>

namespace korvel::app {

ProgressBarControl::ProgressBarControl(QWidget* parent) : QProgressBar(parent) {
    QProgressBar::setRange(0, 100);
    QProgressBar::setValue(0);
    setTextVisible(false);
}

void ProgressBarControl::setMaximum(int maximum) {
    const int held = position();
    const int top = std::max(maximum, 0);
    // A range of 0 to 0 would turn the bar into a busy animation: nothing to
    // measure is shown as an empty bar instead.
    QProgressBar::setRange(0, std::max(top, 1));
    QProgressBar::setValue(std::min(held, top));
}

void ProgressBarControl::setPosition(int position) {
    QProgressBar::setValue(std::clamp(position, minimum(), maximum()));
}

int ProgressBarControl::position() const {
    // A bar that was reset holds minimum - 1: it shows nothing, which is 0 here.
    return std::max(value(), minimum());
}

}  // namespace korvel::app
