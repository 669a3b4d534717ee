#pragma once

#include <QProgressBar>

#include "jobs/ui_targets.h"

namespace korvel::app {

// The window's progress bar as the run sees it. Positions outside the range
// are held at its ends rather than ignored, and a smaller maximum pulls the
// position down with it, so stepping always adds to what the bar shows. A
// maximum of 0 shows an empty bar, not a busy one.
class ProgressBarControl : public QProgressBar, public ProgressTarget {
    Q_OBJECT

  public:
    explicit ProgressBarControl(QWidget* parent = nullptr);

    void setMaximum(int maximum) override;
    void setPosition(int position) override;
    int position() const override;
};

}  // namespace korvel::app
