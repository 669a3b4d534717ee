#include "app/result_band.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvel::app {

namespace {

// Colours that read the same in a light and a dark palette, with white text
// at a contrast above 4.5:1.
constexpr const char* kPassedStyle = "background-color: #1b7a2e; color: white;";
constexpr const char* kFailedStyle = "background-color: #b3261e; color: white;";

constexpr const char* kSuccessText = "Programming succesful";

QString Seconds(double seconds) {
    return QStringLiteral("in %1 s").arg(seconds, 0, 'f', 1);
}

}  // namespace

ResultBand::ResultBand(QWidget* parent) : QFrame(parent) {
    beep = [] { QApplication::beep(); };
    setObjectName(QStringLiteral("ResultBand"));
    setAccessibleName(QStringLiteral("Result"));
    setAccessibleDescription(QStringLiteral("How the last run ended and the boards counted"));
    setFrameStyle(QFrame::StyledPanel | QFrame::Plain);

    auto* outcome = new QWidget(this);
    outcome->setObjectName(QStringLiteral("ResultBandOutcome"));
    outcome->setAutoFillBackground(true);
    headline_ = new QLabel(outcome);
    headline_->setObjectName(QStringLiteral("ResultHeadline"));
    headline_->setTextFormat(Qt::PlainText);
    QFont big = headline_->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    headline_->setFont(big);
    detail_ = new QLabel(outcome);
    detail_->setObjectName(QStringLiteral("ResultDetail"));
    detail_->setTextFormat(Qt::PlainText);
    detail_->setWordWrap(true);
    // Two lines of reason at most keep the window's size.
    detail_->setMinimumHeight(detail_->fontMetrics().lineSpacing() * 2);
    detail_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    detail_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    auto* outcomeLayout = new QVBoxLayout(outcome);
    outcomeLayout->setContentsMargins(8, 6, 8, 6);
    outcomeLayout->addWidget(headline_);
    outcomeLayout->addWidget(detail_);

    counters_ = new QLabel(this);
    counters_->setObjectName(QStringLiteral("ResultCounters"));
    counters_->setTextFormat(Qt::PlainText);
    counters_->setAccessibleName(QStringLiteral("Boards counted"));
    counters_->setAccessibleDescription(
        QStringLiteral("Boards passed and failed since the window opened"));
    reset_ = new QPushButton(QStringLiteral("Reset counts"), this);
    reset_->setObjectName(QStringLiteral("ResetCounters"));
    reset_->setAccessibleName(QStringLiteral("Reset counts"));
    reset_->setAccessibleDescription(
        QStringLiteral("Sets the boards passed and failed back to 0 (Ctrl+R)"));
    reset_->setToolTip(QStringLiteral("Reset counts (Ctrl+R)"));
    connect(reset_, &QPushButton::clicked, this, &ResultBand::ResetCounters);
    auto* countersLayout = new QHBoxLayout;
    countersLayout->addWidget(counters_, 1);
    countersLayout->addWidget(reset_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 4);
    layout->setSpacing(4);
    layout->addWidget(outcome);
    layout->addLayout(countersLayout);
    setLook(QStringLiteral("idle"));
    showCounters();
}

void ResultBand::ShowOutcome(const Outcome& outcome, const QString& resultLine) {
    if (outcome.result == RunResult::Success) {
        ++passed_;
        headline_->setText(QString::fromLatin1(kSuccessText));
        // After the time the board's words go on in lower case: "in 7.0 s;
        // board id A-7, serial number 1000".
        detail_->setText(Seconds(outcome.durationSeconds) +
                         (board_.isEmpty()
                              ? QString()
                              : QStringLiteral("; ") + board_.at(0).toLower() + board_.mid(1)));
        setLook(QStringLiteral("passed"));
    } else if (resultLine.isEmpty()) {
        headline_->setText(QStringLiteral("Stopped"));
        detail_->setText(Seconds(outcome.durationSeconds));
        setLook(QStringLiteral("stopped"));
    } else {
        ++failed_;
        headline_->setText(resultLine);
        detail_->setText(QString::fromStdString(outcome.reason));
        setLook(QStringLiteral("failed"));
    }
    showCounters();
    setAccessibleDescription(headline_->text() + QStringLiteral(". ") + detail_->text());
    if (sound_ && beep) {
        beep();
    }
}

void ResultBand::ShowRunning(const QString& board) {
    board_ = board;
    headline_->setText(QString());
    detail_->setText(board);
    setLook(QStringLiteral("running"));
}

void ResultBand::ResetCounters() {
    passed_ = 0;
    failed_ = 0;
    showCounters();
}

QString ResultBand::headline() const {
    return headline_->text();
}

QString ResultBand::detail() const {
    return detail_->text();
}

void ResultBand::setLook(const QString& state) {
    state_ = state;
    QWidget* outcome = headline_->parentWidget();
    if (state == QLatin1String("passed")) {
        outcome->setStyleSheet(QString::fromLatin1(kPassedStyle));
    } else if (state == QLatin1String("failed")) {
        outcome->setStyleSheet(QString::fromLatin1(kFailedStyle));
    } else {
        outcome->setStyleSheet(QString());
    }
}

void ResultBand::showCounters() {
    counters_->setText(QStringLiteral("Passed: %1    Failed: %2").arg(passed_).arg(failed_));
}

}  // namespace korvel::app
