#include "app/status_panel_control.h"

#include "package/printable_text.h"

namespace korvel::app {

StatusPanelControl::StatusPanelControl(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setMargin(2);
}

void StatusPanelControl::setText(const std::string& text) {
    // A status may quote a board's answer: shown escaped, never raw.
    QLabel::setText(QString::fromStdString(PrintableText(text)));
    repaint();
    emit textShown(QLabel::text());
}

}  // namespace korvel::app
