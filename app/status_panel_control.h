#pragma once

#include <QLabel>

#include "jobs/ui_targets.h"

namespace korvel::app {

// The window's status panel: one line of text in a sunken panel, shown as
// plain text whatever a procedure or a device puts into it.
class StatusPanelControl : public QLabel, public StatusTarget {
    Q_OBJECT

  public:
    explicit StatusPanelControl(QWidget* parent = nullptr);

    using QLabel::setText;
    // Replaces the text and repaints at once, while the worker still waits.
    void setText(const std::string& text) override;

  signals:
    // Each text a run (or the window) shows, for the run log.
    void textShown(const QString& text);
};

}  // namespace korvel::app
