#pragma once

#include <QFileDialog>
#include <QString>
#include <QWidget>

// Small pieces the window's views share.
namespace korvel::app {

// Names a control for screen readers and tests; the description says what it
// does and is its tooltip too.
template <typename W>
W* Named(W* widget, const char* objectName, const QString& name, const QString& description) {
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setAccessibleName(name);
    widget->setAccessibleDescription(description);
    widget->setToolTip(description);
    return widget;
}

// Asks for the file the records are appended to; an existing one is kept, so
// overwriting is not asked about.
inline QString ChooseRecordFile(QWidget* parent, const QString& current) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Record file"), current,
                                        QStringLiteral("JSON lines (*.jsonl);;All files (*)"),
                                        nullptr, QFileDialog::DontConfirmOverwrite);
}

}  // namespace korvel::app
