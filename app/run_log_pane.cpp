#include "app/run_log_pane.h"

#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace korvel::app {

namespace {

constexpr int kVisibleLines = 8;

QString ChooseSaveFile(QWidget* parent) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Save log"),
                                        QStringLiteral("korvel-log.txt"),
                                        QStringLiteral("Text files (*.txt)"));
}

}  // namespace

RunLogPane::RunLogPane(QWidget* parent) : QWidget(parent) {
    chooseSaveFile = ChooseSaveFile;
    now = [] { return QDateTime::currentDateTime(); };
    setObjectName(QStringLiteral("RunLog"));

    fold_ = new QToolButton(this);
    fold_->setObjectName(QStringLiteral("RunLogFold"));
    fold_->setText(QStringLiteral("Run log"));
    fold_->setCheckable(true);
    fold_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    fold_->setArrowType(Qt::RightArrow);
    fold_->setAutoRaise(true);
    fold_->setToolTip(QStringLiteral("Show or hide the run log (Ctrl+L)"));
    fold_->setAccessibleName(QStringLiteral("Run log"));
    fold_->setAccessibleDescription(QStringLiteral("Shows or hides the run log (Ctrl+L)"));
    fold_->setFocusPolicy(Qt::StrongFocus);

    body_ = new QWidget(this);
    text_ = new QPlainTextEdit(body_);
    text_->setObjectName(QStringLiteral("RunLogText"));
    text_->setReadOnly(true);
    // Long reasons wrap: the pane is as wide as the window.
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text_->setTabChangesFocus(true);
    text_->setFixedHeight(text_->fontMetrics().lineSpacing() * kVisibleLines + 8);
    text_->setAccessibleName(QStringLiteral("Run log text"));
    text_->setAccessibleDescription(
        QStringLiteral("Every status of every run with its time, each run's outcome last"));
    copy_ = new QPushButton(QStringLiteral("Copy"), body_);
    copy_->setObjectName(QStringLiteral("RunLogCopy"));
    copy_->setAccessibleName(QStringLiteral("Copy log"));
    copy_->setAccessibleDescription(
        QStringLiteral("Copies the whole run log to the clipboard (Ctrl+Shift+C)"));
    save_ = new QPushButton(QStringLiteral("Save log..."), body_);
    save_->setObjectName(QStringLiteral("RunLogSave"));
    save_->setAccessibleName(QStringLiteral("Save log"));
    save_->setAccessibleDescription(QStringLiteral("Saves the run log as a text file (Ctrl+S)"));
    connect(copy_, &QPushButton::clicked, this, &RunLogPane::CopyToClipboard);
    connect(save_, &QPushButton::clicked, this, &RunLogPane::SaveAs);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(copy_);
    buttons->addWidget(save_);
    auto* bodyLayout = new QVBoxLayout(body_);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->addWidget(text_);
    bodyLayout->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(fold_, 0, Qt::AlignLeft);
    layout->addWidget(body_);
    body_->hide();
    connect(fold_, &QToolButton::toggled, this, &RunLogPane::setExpanded);
}

bool RunLogPane::expanded() const {
    return fold_->isChecked();
}

void RunLogPane::setExpanded(bool expanded) {
    if (fold_->isChecked() != expanded) {
        fold_->setChecked(expanded);  // comes back here through toggled
        return;
    }
    if (body_->isVisibleTo(this) == expanded) {
        return;
    }
    fold_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    body_->setVisible(expanded);
    emit expandedChanged(expanded);
}

void RunLogPane::BeginRun(const QString& what) {
    addLine(what);
}

void RunLogPane::AddStatus(const QString& status) {
    if (!status.trimmed().isEmpty()) {
        addLine(QStringLiteral("  ") + status);
    }
}

void RunLogPane::AddOutcome(const QString& line) {
    addLine(QStringLiteral("  => ") + line);
}

void RunLogPane::AddNote(const QString& note) {
    addLine(note);
}

void RunLogPane::addLine(const QString& line) {
    // A status may hold line ends of its own: one log line each.
    QString flat = line;
    flat.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(QLatin1Char('\n'), ' ');
    text_->appendPlainText(now().toString(QStringLiteral("HH:mm:ss.zzz")) + QStringLiteral("  ") +
                           flat);
}

QString RunLogPane::text() const {
    return text_->toPlainText();
}

bool RunLogPane::SaveTo(const QString& path, QString& error) const {
    QFile file(path);
    const QByteArray bytes = (text() + QLatin1Char('\n')).toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
        error = file.errorString();
        return false;
    }
    return true;
}

void RunLogPane::CopyToClipboard() const {
    QGuiApplication::clipboard()->setText(text());
}

void RunLogPane::SaveAs() {
    const QString path = chooseSaveFile(window());
    if (path.isEmpty()) {
        return;
    }
    QString error;
    if (!SaveTo(path, error)) {
        QMessageBox::warning(window(), QStringLiteral("Save log"),
                             QStringLiteral("The log could not be saved to %1: %2\nChoose another "
                                            "folder or free some space and save again.")
                                 .arg(path, error));
    }
}

}  // namespace korvel::app
