#include "app/options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/widget_helpers.h"
#include "serial/reset_lines.h"

namespace korvel::app {

namespace {

QSpinBox* Milliseconds(QWidget* parent) {
    auto* box = new QSpinBox(parent);
    box->setRange(0, static_cast<int>(kMaxResetLineMs));
    box->setSuffix(QStringLiteral(" ms"));
    return box;
}

}  // namespace

OptionsDialog::OptionsDialog(const KorvelOptions& options, QWidget* parent)
    : QDialog(parent), given_(options) {
    chooseRecordFile = ChooseRecordFile;
    setObjectName(QStringLiteral("OptionsDialog"));
    setWindowTitle(QStringLiteral("Options"));

    verify_ = Named(new QCheckBox(QStringLiteral("&Verify after programming"), this),
                    "OptionVerify", QStringLiteral("Verify"),
                    QStringLiteral("Read the flash back and compare it with the image"));

    auto* wiringBox = new QGroupBox(QStringLiteral("Reset wiring"), this);
    wiring_ = Named(new QComboBox(wiringBox), "OptionWiring", QStringLiteral("Reset wiring"),
                    QStringLiteral("How the board's reset and boot-select pins hang on the port"));
    wiring_->addItem(QStringLiteral("None: the board is reset by hand"));
    wiring_->addItem(QStringLiteral("DTR to reset, RTS to boot-select (P0.14)"));
    invertReset_ = Named(new QCheckBox(QStringLiteral("Invert &reset (DTR)"), wiringBox),
                         "OptionInvertReset", QStringLiteral("Invert reset"),
                         QStringLiteral("Reset is asserted with DTR inactive"));
    invertBoot_ = Named(new QCheckBox(QStringLiteral("Invert &boot-select (RTS)"), wiringBox),
                        "OptionInvertBoot", QStringLiteral("Invert boot-select"),
                        QStringLiteral("Boot-select is asserted with RTS inactive"));
    hold_ = Named(Milliseconds(wiringBox), "OptionHold", QStringLiteral("Reset hold"),
                  QStringLiteral("How long reset is held, in milliseconds"));
    settle_ = Named(Milliseconds(wiringBox), "OptionSettle", QStringLiteral("Settle time"),
                    QStringLiteral("The wait for the boot loader after reset, in milliseconds"));
    wiringProblem_ = new QLabel(wiringBox);
    wiringProblem_->setObjectName(QStringLiteral("OptionWiringProblem"));
    wiringProblem_->setWordWrap(true);
    wiringProblem_->setTextFormat(Qt::PlainText);
    auto* wiringLayout = new QFormLayout(wiringBox);
    wiringLayout->addRow(QStringLiteral("&Lines:"), wiring_);
    wiringLayout->addRow(invertReset_);
    wiringLayout->addRow(invertBoot_);
    wiringLayout->addRow(QStringLiteral("&Hold:"), hold_);
    wiringLayout->addRow(QStringLiteral("Se&ttle:"), settle_);
    wiringLayout->addRow(wiringProblem_);

    recordFile_ = Named(new QLineEdit(this), "OptionRecordFile", QStringLiteral("Record file"),
                        QStringLiteral("The station appends one JSON line per board to this "
                                       "file; empty: no record"));
    auto* chooseRecord = Named(new QPushButton(QStringLiteral("C&hoose..."), this),
                               "OptionChooseRecordFile", QStringLiteral("Choose record file"),
                               QStringLiteral("Picks the station's record file"));
    connect(chooseRecord, &QPushButton::clicked, this, [this] {
        const QString chosen = chooseRecordFile(this, recordFile_->text());
        if (!chosen.isEmpty()) {
            recordFile_->setText(chosen);
        }
    });
    auto* recordRow = new QHBoxLayout;
    recordRow->addWidget(recordFile_, 1);
    recordRow->addWidget(chooseRecord);

    sound_ = Named(new QCheckBox(QStringLiteral("&Sound when a run ends"), this), "OptionSound",
                   QStringLiteral("Sound"), QStringLiteral("A beep when a run ends"));
    messageDialog_ =
        Named(new QCheckBox(QStringLiteral("Show the &message after each run"), this),
              "OptionMessageDialog", QStringLiteral("Message after each run"),
              QStringLiteral("Off for line work: the result band alone shows the outcome"));
    extraBaudRates_ = Named(
        new QCheckBox(QStringLiteral("More &baud rates: 57600, 115200, 230400"), this),
        "OptionExtraBaudRates", QStringLiteral("More baud rates"),
        QStringLiteral("Offers faster speeds in the Baud Rate box, for boards that take them"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("OptionButtons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* recordLabel = new QLabel(QStringLiteral("Re&cord file:"), this);
    recordLabel->setBuddy(recordFile_);
    auto* form = new QFormLayout;
    form->addRow(recordLabel, recordRow);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(verify_);
    layout->addWidget(wiringBox);
    layout->addLayout(form);
    layout->addWidget(sound_);
    layout->addWidget(messageDialog_);
    layout->addWidget(extraBaudRates_);
    layout->addWidget(buttons);

    verify_->setChecked(options.verify);
    std::string error;
    const auto lines = ParseResetLines(options.resetLines, error);
    const ResetLines shown = lines.value_or(ResetLines{});
    if (!lines) {
        wiringProblem_->setText(QStringLiteral("The stored wiring does not read (%1); OK stores "
                                               "what is shown here.")
                                    .arg(QString::fromStdString(error)));
    }
    wiringProblem_->setVisible(!lines);
    wiring_->setCurrentIndex(shown.driven ? 1 : 0);
    invertReset_->setChecked(shown.invertReset);
    invertBoot_->setChecked(shown.invertBootSelect);
    hold_->setValue(static_cast<int>(shown.holdMs));
    settle_->setValue(static_cast<int>(shown.settleMs));
    recordFile_->setText(QString::fromStdString(options.recordFile));
    sound_->setChecked(options.sound);
    messageDialog_->setChecked(options.messageDialog);
    extraBaudRates_->setChecked(options.extraBaudRates);
    connect(wiring_, &QComboBox::currentIndexChanged, this, &OptionsDialog::showWiring);
    showWiring();
}

void OptionsDialog::showWiring() {
    const bool driven = wiring_->currentIndex() == 1;
    for (QWidget* part : {static_cast<QWidget*>(invertReset_), static_cast<QWidget*>(invertBoot_),
                          static_cast<QWidget*>(hold_), static_cast<QWidget*>(settle_)}) {
        part->setEnabled(driven);
    }
}

KorvelOptions OptionsDialog::options() const {
    KorvelOptions options = given_;
    options.verify = verify_->isChecked();
    ResetLines lines;
    lines.driven = wiring_->currentIndex() == 1;
    if (lines.driven) {
        lines.invertReset = invertReset_->isChecked();
        lines.invertBootSelect = invertBoot_->isChecked();
        lines.holdMs = static_cast<unsigned>(hold_->value());
        lines.settleMs = static_cast<unsigned>(settle_->value());
    }
    options.resetLines = FormatResetLines(lines);
    options.recordFile = recordFile_->text().toStdString();
    options.sound = sound_->isChecked();
    options.messageDialog = messageDialog_->isChecked();
    options.extraBaudRates = extraBaudRates_->isChecked();
    return options;
}

}  // namespace korvel::app
