#include "app/options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
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
    chooseSerialCounter = [](QWidget* parent, const QString& current) {
        return QFileDialog::getOpenFileName(parent, QStringLiteral("Serial number counter"),
                                            current,
                                            QStringLiteral("Text files (*.txt);;All files (*)"));
    };
    setObjectName(QStringLiteral("OptionsDialog"));
    setWindowTitle(QStringLiteral("Options"));

    verify_ = Named(new QCheckBox(QStringLiteral("&Verify after programming"), this),
                    "OptionVerify", QStringLiteral("Verify"),
                    QStringLiteral("Checks the flash after programming (LPC packages)"));
    verifyMode_ =
        Named(new QComboBox(this), "OptionVerifyMode", QStringLiteral("Verify mode"),
              QStringLiteral("The chip compares each block with the image as it is written "
                             "(adds almost nothing), or the whole flash is read back over the "
                             "line (doubles the run)"));
    verifyMode_->addItem(QStringLiteral("Compare on the chip (fast)"),
                         static_cast<int>(VerifyMode::Compare));
    verifyMode_->addItem(QStringLiteral("Read the whole flash back"),
                         static_cast<int>(VerifyMode::Readback));
    auto* verifyModeLabel = new QLabel(QStringLiteral("Chec&k:"), this);
    verifyModeLabel->setBuddy(verifyMode_);
    auto* verifyModeRow = new QHBoxLayout;
    verifyModeRow->addSpacing(20);
    verifyModeRow->addWidget(verifyModeLabel);
    verifyModeRow->addWidget(verifyMode_, 1);

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

    auto* boardBox = new QGroupBox(QStringLiteral("Board id and serial number"), this);
    askBoardId_ = Named(
        new QCheckBox(QStringLiteral("Ask for each board's &id before it is programmed"), boardBox),
        "OptionAskBoardId", QStringLiteral("Ask for each board's id"),
        QStringLiteral("For a barcode scanner: the id is asked before each board's run and goes "
                       "into its record"));
    writeSerial_ =
        Named(new QCheckBox(QStringLiteral("Write a serial n&umber into each board"), boardBox),
              "OptionWriteSerial", QStringLiteral("Write a serial number"),
              QStringLiteral("Each board gets its own number, written into its copy of the image"));
    serialPlace_ =
        Named(new QLineEdit(boardBox), "OptionSerialPlace", QStringLiteral("Serial number place"),
              QStringLiteral("AT:FORMAT. AT: a flash address (LPC) or an offset into "
                             "the image (other kinds), decimal or 0x-hex. FORMAT: "
                             "u32le, u32be, or ascii:N (N decimal digits)"));
    serialPlace_->setPlaceholderText(QStringLiteral("0x1F00:u32le"));
    serialFromCounter_ =
        Named(new QRadioButton(QStringLiteral("From the c&ounter file:"), boardBox),
              "OptionSerialFromCounter", QStringLiteral("From the counter file"),
              QStringLiteral("The file holds the next number; it is advanced on "
                             "the disk before a board is touched"));
    serialCounter_ =
        Named(new QLineEdit(boardBox), "OptionSerialCounter", QStringLiteral("Counter file"),
              QStringLiteral("The text file that holds the next serial number"));
    browseSerialCounter_ = Named(new QPushButton(QStringLiteral("Bro&wse..."), boardBox),
                                 "OptionBrowseSerialCounter", QStringLiteral("Browse counter file"),
                                 QStringLiteral("Picks the serial numbers' counter file"));
    serialFromBoardId_ = Named(new QRadioButton(QStringLiteral("From the board i&d"), boardBox),
                               "OptionSerialFromBoardId", QStringLiteral("From the board id"),
                               QStringLiteral("The board id asked before each run is its serial "
                                              "number (decimal)"));
    serialProblem_ = new QLabel(boardBox);
    serialProblem_->setObjectName(QStringLiteral("OptionSerialProblem"));
    serialProblem_->setWordWrap(true);
    serialProblem_->setTextFormat(Qt::PlainText);
    serialProblem_->hide();
    connect(browseSerialCounter_, &QPushButton::clicked, this, [this] {
        const QString chosen = chooseSerialCounter(this, serialCounter_->text());
        if (!chosen.isEmpty()) {
            serialCounter_->setText(chosen);
        }
    });
    auto* placeLabel = new QLabel(QStringLiteral("&At:"), boardBox);
    placeLabel->setBuddy(serialPlace_);
    // What the serial number needs sits under its box, indented.
    constexpr int kIndent = 20;
    auto* counterRow = new QHBoxLayout;
    counterRow->addSpacing(kIndent);
    counterRow->addWidget(serialCounter_, 1);
    counterRow->addWidget(browseSerialCounter_);
    auto* serialLayout = new QGridLayout;
    serialLayout->setContentsMargins(kIndent, 0, 0, 0);
    serialLayout->setColumnStretch(1, 1);
    serialLayout->addWidget(placeLabel, 0, 0);
    serialLayout->addWidget(serialPlace_, 0, 1);
    serialLayout->addWidget(serialFromCounter_, 1, 0, 1, 2);
    serialLayout->addLayout(counterRow, 2, 0, 1, 2);
    serialLayout->addWidget(serialFromBoardId_, 3, 0, 1, 2);
    auto* boardLayout = new QVBoxLayout(boardBox);
    boardLayout->addWidget(askBoardId_);
    boardLayout->addWidget(writeSerial_);
    boardLayout->addLayout(serialLayout);
    boardLayout->addWidget(serialProblem_);

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
    layout->addLayout(verifyModeRow);
    layout->addWidget(wiringBox);
    layout->addLayout(form);
    layout->addWidget(boardBox);
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
    verifyMode_->setCurrentIndex(options.verifyMode == VerifyMode::Readback ? 1 : 0);
    askBoardId_->setChecked(options.askBoardId);
    writeSerial_->setChecked(options.writeSerial);
    serialPlace_->setText(QString::fromStdString(options.serialPlace));
    serialCounter_->setText(QString::fromStdString(options.serialCounter));
    (options.serialFromBoardId ? serialFromBoardId_ : serialFromCounter_)->setChecked(true);
    connect(wiring_, &QComboBox::currentIndexChanged, this, &OptionsDialog::showWiring);
    connect(verify_, &QCheckBox::toggled, verifyMode_, &QWidget::setEnabled);
    verifyMode_->setEnabled(options.verify);
    for (QAbstractButton* choice : {static_cast<QAbstractButton*>(writeSerial_),
                                    static_cast<QAbstractButton*>(serialFromCounter_),
                                    static_cast<QAbstractButton*>(serialFromBoardId_)}) {
        connect(choice, &QAbstractButton::toggled, this, &OptionsDialog::showBoardChoices);
    }
    showWiring();
    showBoardChoices();
}

void OptionsDialog::showBoardChoices() {
    const bool serial = writeSerial_->isChecked();
    for (QWidget* part :
         {static_cast<QWidget*>(serialPlace_), static_cast<QWidget*>(serialFromCounter_),
          static_cast<QWidget*>(serialFromBoardId_)}) {
        part->setEnabled(serial);
    }
    const bool fromCounter = serial && serialFromCounter_->isChecked();
    serialCounter_->setEnabled(fromCounter);
    browseSerialCounter_->setEnabled(fromCounter);
    // A number taken from the board id needs the id asked for.
    const bool idNeeded = serial && serialFromBoardId_->isChecked();
    if (idNeeded) {
        askBoardId_->setChecked(true);
    }
    askBoardId_->setEnabled(!idNeeded);
}

void OptionsDialog::accept() {
    std::string error;
    SerialChoiceOf(options(), error);
    if (!error.empty()) {
        serialProblem_->setText(QString::fromStdString(error));
        serialProblem_->show();
        std::string why;
        const bool placeReads =
            ParseSerialPlace(serialPlace_->text().trimmed().toStdString(), why).has_value();
        (placeReads ? serialCounter_ : serialPlace_)->setFocus();
        return;
    }
    QDialog::accept();
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
    options.verifyMode = static_cast<VerifyMode>(verifyMode_->currentData().toInt());
    options.askBoardId = askBoardId_->isChecked();
    options.writeSerial = writeSerial_->isChecked();
    options.serialPlace = serialPlace_->text().trimmed().toStdString();
    options.serialFromBoardId = serialFromBoardId_->isChecked();
    options.serialCounter = serialCounter_->text().toStdString();
    return options;
}

}  // namespace korvel::app
