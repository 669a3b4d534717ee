#include "app/status_panel_control.h"

namespace korvel::app {

StatusPanelControl::StatusPanelControl(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setMargin(2);
}

void StatusPanelControl::setText(const std::string& text) {
    QLabel::setText(QString::fromStdString(text));
    repaint();
    emit textShown(QLabel::text());
}

}  // namespace korvel::app
