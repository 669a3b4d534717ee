#include "app/tfrm_main.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <variant>

#include "app/file_version.h"
#include "app/help_file.h"
#include "app/icon_set.h"
#include "app/options_dialog.h"
#include "app/port_tooltip.h"
#include "app/progress_bar_control.h"
#include "app/result_band.h"
#include "app/run_log_pane.h"
#include "app/status_panel_control.h"
#include "jobs/exit_codes.h"
#include "jobs/run_messages.h"
#include "jobs/status_text.h"
#include "package/printable_text.h"
#include "procedures/run_preparation.h"
#include "settings/settings.h"

namespace korvel::app {

namespace {

constexpr int kExitCode = 5;
constexpr int kStartDelayMs = 1;
constexpr int kContentWidth = 360;
constexpr int kIconSize = 32;

// Ends the process without unwinding: a run may still hold the port and the
// package, and nothing is to be saved or closed first.
void EndProcessAtOnce(int code) {
    std::fflush(nullptr);
    std::_Exit(code);
}

QString ChooseFile(QWidget* parent, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
}

bool OpenDocument(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

std::optional<KorvelOptions> EditOptions(QWidget* parent, const KorvelOptions& options) {
    OptionsDialog dialog(options, parent);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.options();
}

std::optional<std::string> AskBoardId(QWidget* parent, const QString& port) {
    bool ok = false;
    const QString id =
        QInputDialog::getText(parent, QStringLiteral("Board id"),
                              QStringLiteral("Scan or type the id of the board on %1:").arg(port),
                              QLineEdit::Normal, QString(), &ok);
    if (!ok) {
        return std::nullopt;
    }
    return id.trimmed().toStdString();
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Package texts are the bytes of the file; show every byte as a character,
// control characters escaped.
QString PackageText(const std::string& text) {
    const std::string shown = PrintableText(text);
    return QString::fromLatin1(shown.data(), static_cast<qsizetype>(shown.size()));
}

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string ToPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

TfrmMain::TfrmMain(MainWindowHooks hooks, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      hooks_(std::move(hooks)),
      settings_(Settings::Instance()) {
    if (!hooks_.endProcess) {
        hooks_.endProcess = EndProcessAtOnce;
    }
    if (!hooks_.chooseFile) {
        hooks_.chooseFile = ChooseFile;
    }
    if (!hooks_.openDocument) {
        hooks_.openDocument = OpenDocument;
    }
    if (hooks_.helpFile.isEmpty()) {
        hooks_.helpFile =
            FindHelpFile(QFile::decodeName(QByteArray::fromStdString(ExecutablePath())));
    }
    if (!hooks_.editOptions) {
        hooks_.editOptions = EditOptions;
    }
    if (!hooks_.askBoardId) {
        hooks_.askBoardId = AskBoardId;
    }

    setObjectName(QStringLiteral("frmMain"));
    setWindowIcon(ProgramIcon());
    // The tool bar is not for hiding.
    setContextMenuPolicy(Qt::NoContextMenu);
    createActions();
    createControls();
    createBenchActions();
    createBenchControls();

    for (int n = 1; n <= kPortCount; ++n) {
        ComboBoxCom->addItem(QStringLiteral("COM%1").arg(n));
        if (const QString tip = PortToolTip(n); !tip.isEmpty()) {
            ComboBoxCom->setItemData(n - 1, tip, Qt::ToolTipRole);
        }
    }
    // A stored port beyond the list selects nothing; runs still use it.
    const int index = settings_.serialPort - 1;
    ComboBoxCom->setCurrentIndex(index >= 0 && index < kPortCount ? index : -1);
    showPortToolTip();

    // A pinned station starts with its pinned package or none.
    if (!Trimmed(settings_.LastFiles).empty()) {
        if (const std::string refusal = pinRefusal(settings_.LastFiles); !refusal.empty()) {
            noteRefusedLoad(refusal);
            settings_.LastFiles.clear();
        }
    }
    LoadPackage(settings_.LastFiles);
    running_ = false;
    programName_ = kProgramName;
    const QString title = QString::fromStdString(programName_ + " V." + ReadFileVersion());
    QGuiApplication::setApplicationDisplayName(title);
    setWindowTitle(title);

    // Connected only now: filling and selecting must not save the settings.
    connect(ComboBoxCom, &QComboBox::currentIndexChanged, this, &TfrmMain::ComboBoxComChange);
    connect(ComboBoxBaudRate, &QComboBox::currentIndexChanged, this, &TfrmMain::ComboBoxComChange);
    connect(ComboBoxCom, &QComboBox::currentIndexChanged, this, &TfrmMain::showPortToolTip);

    fitToContents();
    StartTimer->start();
}

TfrmMain::~TfrmMain() {
    if (lastRun_ != nullptr) {
        // The window goes while a run may still be ending: stop it, let the
        // worker go on without its user-interface steps, and wait for it.
        lastRun_->Stop();
        handover_.Shutdown();
        lastRun_.reset();
    }
}

void TfrmMain::createActions() {
    auto makeAction = [this](const char* name, ActionImage image, const char* hint,
                             const QKeySequence& shortcut, void (TfrmMain::*handler)()) {
        // The text is not shown (images only) but names the button for screen readers.
        auto* action = new QAction(ActionIcon(image), QString::fromLatin1(hint), this);
        action->setObjectName(QString::fromLatin1(name));
        action->setToolTip(QString::fromLatin1(hint));
        action->setShortcut(shortcut);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    ActionProgram = makeAction("ActionProgram", ActionImage::Program, "Start", Qt::Key_F3,
                               &TfrmMain::ActionProgramExecute);
    ActionLoad = makeAction("ActionLoad", ActionImage::Load, "Load", Qt::Key_F2,
                            &TfrmMain::ActionLoadExecute);
    ActionHelp = makeAction("ActionHelp", ActionImage::Help, "Help", Qt::Key_F1,
                            &TfrmMain::ActionHelpExecute);
    ActionExit = makeAction("ActionExit", ActionImage::Exit, "Wxit",
                            QKeySequence(Qt::CTRL | Qt::Key_X), &TfrmMain::ActionExitExecute);

    ToolBar = addToolBar(QStringLiteral("ToolBar"));
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->setIconSize(QSize(kIconSize, kIconSize));
    ToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar->addAction(ActionProgram);
    ToolBar->addAction(ActionLoad);
    ToolBar->addSeparator();
    ToolBar->addAction(ActionHelp);
    ToolBar->addAction(ActionExit);
    ToolBar->widgetForAction(ActionProgram)->setObjectName(QStringLiteral("cmdProgram"));
    ToolBar->widgetForAction(ActionLoad)->setObjectName(QStringLiteral("cmdLoad"));
    ToolBar->widgetForAction(ActionHelp)->setObjectName(QStringLiteral("cmdHelp"));
    ToolBar->widgetForAction(ActionExit)->setObjectName(QStringLiteral("cmdExit"));
}

void TfrmMain::createControls() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("Central"));
    central->setFixedWidth(kContentWidth);
    setCentralWidget(central);

    GroupBoxFileName = new QGroupBox(QStringLiteral("File Name"), central);
    GroupBoxFileName->setObjectName(QStringLiteral("GroupBoxFileName"));
    LabelFileName = new QLabel(QStringLiteral("-"), GroupBoxFileName);
    LabelFileName->setObjectName(QStringLiteral("LabelFileName"));
    LabelFileName->setTextFormat(Qt::PlainText);
    // A long name is cut rather than widening the window; the hint has it all.
    LabelFileName->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* fileLayout = new QHBoxLayout(GroupBoxFileName);
    fileLayout->addWidget(LabelFileName);

    GroupBoxCom = new QGroupBox(QStringLiteral("COM port"), central);
    GroupBoxCom->setObjectName(QStringLiteral("GroupBoxCom"));
    ComboBoxCom = new QComboBox(GroupBoxCom);
    ComboBoxCom->setObjectName(QStringLiteral("ComboBoxCom"));
    ComboBoxCom->setMaxVisibleItems(16);
    auto* comLayout = new QHBoxLayout(GroupBoxCom);
    comLayout->addWidget(ComboBoxCom);

    GroupBoxBaudRate = new QGroupBox(QStringLiteral("Baud Rate"), central);
    GroupBoxBaudRate->setObjectName(QStringLiteral("GroupBoxBaudRate"));
    ComboBoxBaudRate = new QComboBox(GroupBoxBaudRate);
    ComboBoxBaudRate->setObjectName(QStringLiteral("ComboBoxBaudRate"));
    for (int rate : kBaudRateChoices) {
        ComboBoxBaudRate->addItem(QString::number(rate));
    }
    ComboBoxBaudRate->setCurrentIndex(0);
    // Only the LPC packages that the baud rate is for can be read back.
    CheckBoxVerify = new QCheckBox(QStringLiteral("Verify"), GroupBoxBaudRate);
    CheckBoxVerify->setObjectName(QStringLiteral("CheckBoxVerify"));
    CheckBoxVerify->setToolTip(QStringLiteral("Read the flash back and compare it with the image"));
    CheckBoxVerify->setChecked(settings_.Verify);
    connect(CheckBoxVerify, &QCheckBox::toggled, this, [this](bool checked) {
        settings_.Verify = checked;
        settings_.Save();
    });
    auto* baudLayout = new QHBoxLayout(GroupBoxBaudRate);
    baudLayout->addWidget(ComboBoxBaudRate);
    baudLayout->addWidget(CheckBoxVerify);

    // Hidden groups keep their place, so the window never changes its size.
    for (QGroupBox* group : {GroupBoxCom, GroupBoxBaudRate}) {
        QSizePolicy policy = group->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        group->setSizePolicy(policy);
    }
    GroupBoxBaudRate->hide();

    ProgressBar = new ProgressBarControl(central);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));

    PanelStatus = new StatusPanelControl(central);
    PanelStatus->setObjectName(QStringLiteral("PanelStatus"));
    PanelStatus->setText(QStringLiteral("Idle"));

    auto* layout = new QGridLayout(central);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setHorizontalSpacing(8);
    layout->setVerticalSpacing(8);
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(1, 1);
    layout->addWidget(GroupBoxFileName, 0, 0, 1, 2);
    layout->addWidget(GroupBoxCom, 1, 0);
    layout->addWidget(GroupBoxBaudRate, 1, 1);
    layout->addWidget(ProgressBar, 2, 0, 1, 2);
    layout->addWidget(PanelStatus, 3, 0, 1, 2);

    StatusBarDevice = new QLabel(this);
    StatusBarDevice->setObjectName(QStringLiteral("StatusBarDevice"));
    StatusBarVersion = new QLabel(this);
    StatusBarVersion->setObjectName(QStringLiteral("StatusBarVersion"));
    for (QLabel* panel : {StatusBarDevice, StatusBarVersion}) {
        panel->setTextFormat(Qt::PlainText);
        panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(StatusBarDevice, 1);
    statusBar()->addWidget(StatusBarVersion, 1);

    StartTimer = new QTimer(this);
    StartTimer->setObjectName(QStringLiteral("StartTimer"));
    StartTimer->setInterval(kStartDelayMs);
    connect(StartTimer, &QTimer::timeout, this, &TfrmMain::StartTimerTimer);
}

std::string TfrmMain::ReadFileVersion() const {
    // The same version the build writes into the executable's version resource.
    return FormatFileVersion(KORVEL_VERSION);
}

void TfrmMain::StartTimerTimer() {
    StartTimer->stop();
    // Unattended, nobody will load a package or press Program: a run that
    // cannot start ends the process rather than leave a window waiting.
    if (unattended() && package_.entryCount() == 0) {
        hooks_.endProcess(kExitBadPackage);
        return;
    }
    if (unattended() && !settings_.AutoRun) {
        hooks_.endProcess(kExitUsage);
        return;
    }
    if (settings_.AutoRun) {
        ActionProgramExecute();
    }
}

bool TfrmMain::unattended() const {
    return !settings_.unattendedExit.empty();
}

void TfrmMain::ActionLoadExecute() {
    if (busy()) {
        return;  // the worker reads the package
    }
    const QString chosen = hooks_.chooseFile(this, QStringLiteral("Pr2 Files (*.pr2)"));
    if (chosen.isEmpty()) {
        return;
    }
    OpenPackage(chosen);
}

void TfrmMain::OpenPackage(const QString& path) {
    if (busy()) {
        return;  // the worker reads the package
    }
    if (const std::string refusal = pinRefusal(ToPath(path)); !refusal.empty()) {
        dialogs_.ShowOk(refusal);  // the package loaded stays
        return;
    }
    LabelFileName->setText(QFileInfo(path).fileName());
    settings_.LastFiles = ToPath(path);
    settings_.Save();
    LoadPackage(settings_.LastFiles);
}

void TfrmMain::LoadPackage(std::string path) {
    if (path.empty()) {
        ActionProgram->setEnabled(false);
        StatusBarDevice->setText(QStringLiteral("Device: "));
        StatusBarVersion->setText(QStringLiteral("Version: "));
        return;
    }
    showPackage(path, package_.LoadFromFile(path));
}

void TfrmMain::showPackage(const std::string& path, bool loaded) {
    ActionProgram->setEnabled(false);
    StatusBarDevice->setText(QStringLiteral("Device: "));
    StatusBarVersion->setText(QStringLiteral("Version: "));
    if (!loaded) {
        settings_.LastFiles.clear();
        LabelFileName->setToolTip(QString());
        return;
    }
    const QString fullPath = FromPath(path);
    LabelFileName->setText(QFileInfo(fullPath).fileName());
    LabelFileName->setToolTip(fullPath);
    StatusBarDevice->setText(QStringLiteral("Device: ") + PackageText(package_.entryName(0)));
    StatusBarVersion->setText(QStringLiteral("Version: ") + PackageText(package_.entryVersion(0)));
    ActionProgram->setEnabled(true);
    rememberPackage(path);
    const PackageKind& kind = FindPackageKind(package_.kind());
    GroupBoxCom->setVisible(kind.showsComPort);
    GroupBoxBaudRate->setVisible(kind.showsBaudRate);
}

void TfrmMain::ActionProgramExecute() {
    if (Trimmed(settings_.LastFiles).empty()) {
        return;
    }
    if (running_) {
        if (lastRun_ != nullptr) {
            lastRun_->Stop();
        }
        return;
    }
    // The last run's worker is still inside its final hand-over: it cannot be
    // joined from here, and a second run must wait for it.
    if (finishing_) {
        return;
    }
    const std::string path = package_.fileName();
    RunChoices choices;
    if (const auto refusal =
            runChoices({{portName().toStdString(), settings_.serialPort, ""}}, this, choices)) {
        refuseRun(refusal->exitCode, refusal->message);
        return;
    }
    // Unattended, nobody is there to type an access code.
    auto prepared = PrepareRun(package_, choices, unattended() ? nullptr : &dialogs_,
                               [&](bool loads) { showPackage(path, loads); });
    if (const auto* refusal = std::get_if<RunRefusal>(&prepared)) {
        refuseRun(refusal->exitCode, refusal->message);
        return;
    }
    running_ = true;
    SetControlsIdle(false);

    // The previous run has reported: its worker has ended or is about to.
    lastRun_.reset();
    lastRun_ = std::make_unique<GangRun>(handover_, hooks_.drivers);
    if (hooks_.startRun) {
        lastRun_->startThread = hooks_.startRun;
    }
    lastRun_->OnBoardFinished = [this](std::size_t, const RunRecord&, const Outcome& outcome) {
        OnRunFinished(outcome);
    };
    runStarted(std::get<RunRequest>(prepared));
    lastRun_->Start(std::get<RunRequest>(prepared), {{ProgressBar, PanelStatus, &dialogs_}});
}

void TfrmMain::refuseRun(int exitCode, const std::string& message) {
    if (unattended()) {
        hooks_.endProcess(exitCode);
        return;
    }
    if (!message.empty()) {
        dialogs_.ShowOk(message);
    }
}

void TfrmMain::SetControlsIdle(bool idle) {
    ActionProgram->setIcon(ActionIcon(idle ? ActionImage::Program : ActionImage::Stop));
    const QString hint = idle ? QStringLiteral("Program") : QStringLiteral("Stop");
    ActionProgram->setText(hint);
    ActionProgram->setToolTip(hint);
    ActionLoad->setEnabled(idle);
    ActionHelp->setEnabled(idle);
    LabelFileName->setEnabled(idle);
    GroupBoxCom->setEnabled(idle);
    CheckBoxVerify->setEnabled(idle);
    ComboBoxCom->setEnabled(idle);
}

void TfrmMain::OnRunFinished(const Outcome& outcome) {
    finishing_ = true;
    SetControlsIdle(true);
    running_ = false;
    if (unattended()) {
        hooks_.endProcess(static_cast<int>(outcome.result));
        finishing_ = false;
        return;
    }
    switch (outcome.result) {
        case RunResult::Success:
            ProgressBar->setPosition(ProgressBar->maximum());
            PanelStatus->setText(std::string(Text(StatusId::Done)));
            break;
        case RunResult::PortNotOpened:
            break;
        case RunResult::DeviceNotSupported:
        case RunResult::DeviceError:
        case RunResult::ProgrammingError:
            // The status line says "Error"; the reason goes with the message.
            PanelStatus->setText(std::string(Text(StatusId::Error)));
            break;
        case RunResult::Aborted:
            ProgressBar->setPosition(0);
            PanelStatus->setText(std::string(Text(StatusId::Aborted)));
            break;
    }
    showRunEnd(outcome);
    if (const auto message = OutcomeMessage(outcome, portName().toStdString());
        message && options_.messageDialog) {
        dialogs_.ShowOk(*message);
    }
    finishing_ = false;
    if (closeRequested_) {
        unsetCursor();
        // After this hand-over has returned, so that the worker can end.
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

QString TfrmMain::portName() const {
    // A stored port beyond the list selects no item: name it by its number.
    if (ComboBoxCom->currentIndex() < 0) {
        return QStringLiteral("COM%1").arg(settings_.serialPort);
    }
    return ComboBoxCom->currentText();
}

void TfrmMain::ComboBoxComChange() {
    // With no port selected (a stored port beyond the list), a change of the
    // baud rate must not turn the port into 0.
    if (ComboBoxCom->currentIndex() >= 0) {
        settings_.serialPort = ComboBoxCom->currentIndex() + 1;
    }
    settings_.Save();
}

void TfrmMain::showPortToolTip() {
    const int index = ComboBoxCom->currentIndex();
    ComboBoxCom->setToolTip(index < 0 ? QString()
                                      : ComboBoxCom->itemData(index, Qt::ToolTipRole).toString());
}

void TfrmMain::ActionHelpExecute() {
    const QString& help = hooks_.helpFile;
    bool opened = false;
    try {
        opened = !help.isEmpty() && QFileInfo(help).isFile() && hooks_.openDocument(help);
    } catch (...) {
        opened = false;
    }
    if (!opened) {
        dialogs_.ShowOk("Help not present");
    }
}

void TfrmMain::ActionExitExecute() {
    hooks_.endProcess(kExitCode);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (Station != nullptr && Station->running()) {
        // The station's boards are this window's runs too.
        event->ignore();
        Station->StopAll();
        return;
    }
    if (!running_) {
        event->accept();
        return;
    }
    // The worker still reads the package: ask the run to stop and close
    // once it has reported. Meanwhile the window stays as it is, busy.
    event->ignore();
    if (!closeRequested_) {
        closeRequested_ = true;
        setCursor(Qt::BusyCursor);
    }
    if (lastRun_ != nullptr) {
        lastRun_->Stop();
    }
}

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!centred_) {
        centred_ = true;
        if (const QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
}

// ---- The bench: result band, run log, recent packages, drop, hand-over,
// options and the station. The design's window above stays as it was; these
// show what its runs report and never run anything themselves.

void TfrmMain::createBenchActions() {
    ActionStation = new QAction(QStringLiteral("Station"), this);
    ActionStation->setObjectName(QStringLiteral("ActionStation"));
    ActionStation->setToolTip(QStringLiteral("Station: several boards at once (F4)"));
    ActionStation->setShortcut(Qt::Key_F4);
    connect(ActionStation, &QAction::triggered, this, &TfrmMain::ActionStationExecute);
    ActionOptions = new QAction(QStringLiteral("Options"), this);
    ActionOptions->setObjectName(QStringLiteral("ActionOptions"));
    ActionOptions->setToolTip(QStringLiteral("Options (Ctrl+P)"));
    ActionOptions->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(ActionOptions, &QAction::triggered, this, &TfrmMain::ActionOptionsExecute);
    ToolBar->addSeparator();
    ToolBar->addAction(ActionStation);
    ToolBar->addAction(ActionOptions);

    const struct {
        QAction* action;
        const char* button;
        const char* description;
    } buttons[] = {
        {ActionProgram, "cmdProgram",
         "Programs the loaded package into the board; stops a run (F3)"},
        {ActionLoad, "cmdLoad", "Loads a package file (F2); recent packages: Ctrl+1 to Ctrl+5"},
        {ActionHelp, "cmdHelp", "Opens the manual (F1)"},
        {ActionExit, "cmdExit", "Ends the program at once (Ctrl+X)"},
        {ActionStation, "cmdStation", "Programs several boards at once (F4)"},
        {ActionOptions, "cmdOptions",
         "Verify, reset wiring, record file, board id, serial numbers, sound, message, speeds "
         "(Ctrl+P)"},
    };
    for (const auto& b : buttons) {
        auto* button = qobject_cast<QToolButton*>(ToolBar->widgetForAction(b.action));
        button->setObjectName(QString::fromLatin1(b.button));
        // Its name is its action's text, which follows Program and Stop.
        button->setAccessibleDescription(QString::fromLatin1(b.description));
        // Reachable with Tab as well as by its key.
        button->setFocusPolicy(Qt::TabFocus);
    }
    for (QAction* action : {ActionStation, ActionOptions}) {
        qobject_cast<QToolButton*>(ToolBar->widgetForAction(action))
            ->setToolButtonStyle(Qt::ToolButtonTextOnly);
    }

    RecentMenu = new QMenu(this);
    RecentMenu->setObjectName(QStringLiteral("RecentMenu"));
    RecentMenu->setAccessibleName(QStringLiteral("Recent packages"));
    auto* load = qobject_cast<QToolButton*>(ToolBar->widgetForAction(ActionLoad));
    load->setMenu(RecentMenu);
    load->setPopupMode(QToolButton::MenuButtonPopup);
    options_ = LoadKorvelOptions(settings_.fileName());
    setAcceptDrops(true);
}

void TfrmMain::createBenchControls() {
    const struct {
        QWidget* control;
        const char* name;
        const char* description;
    } named[] = {
        {LabelFileName, "File name",
         "The loaded package; drop a .pr2 file on the window to load it"},
        {ComboBoxCom, "COM port", "The serial port the board is on"},
        {ComboBoxBaudRate, "Baud Rate", "The line speed for LPC boards"},
        {CheckBoxVerify, "Verify",
         "Has the chip compare every block it wrote with the image (LPC packages)"},
        {ProgressBar, "Progress", "How far the run is"},
        {PanelStatus, "Status", "What the run is doing"},
        {StatusBarDevice, "Device", "The device the package is for"},
        {StatusBarVersion, "Version", "The package's firmware version"},
    };
    for (const auto& n : named) {
        n.control->setAccessibleName(QString::fromLatin1(n.name));
        n.control->setAccessibleDescription(QString::fromLatin1(n.description));
    }

    PinnedMark = new QLabel(QStringLiteral("Pinned"), GroupBoxFileName);
    PinnedMark->setObjectName(QStringLiteral("PinnedMark"));
    PinnedMark->setAccessibleName(QStringLiteral("Pinned package"));
    PinnedMark->setStyleSheet(QStringLiteral(
        "QLabel { font-weight: bold; border: 1px solid palette(mid); border-radius: 3px; "
        "padding: 0px 4px; }"));
    // As wide as its word: the name takes the rest.
    PinnedMark->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    GroupBoxFileName->layout()->addWidget(PinnedMark);
    showPinned();
    showVerifyMode();

    Band = new ResultBand(centralWidget());
    Band->setSound(options_.sound);
    RunLog = new RunLogPane(centralWidget());
    connect(PanelStatus, &StatusPanelControl::textShown, RunLog, &RunLogPane::AddStatus);
    connect(RunLog, &RunLogPane::expandedChanged, this, &TfrmMain::fitToContents);
    auto* layout = qobject_cast<QGridLayout*>(centralWidget()->layout());
    layout->addWidget(Band, 4, 0, 1, 2);
    layout->addWidget(RunLog, 5, 0, 1, 2);
    fillBaudRates();
    fillRecentMenu();
    // The band's and the log's keys work wherever the focus is in the window.
    const struct {
        const char* name;
        const char* text;
        QKeySequence key;
        std::function<void()> run;
    } keys[] = {
        {"ActionResetCounts", "Reset counts", QKeySequence(Qt::CTRL | Qt::Key_R),
         [this] { Band->ResetCounters(); }},
        {"ActionRunLog", "Run log", QKeySequence(Qt::CTRL | Qt::Key_L),
         [this] { RunLog->setExpanded(!RunLog->expanded()); }},
        {"ActionCopyLog", "Copy log", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C),
         [this] { RunLog->CopyToClipboard(); }},
        {"ActionSaveLog", "Save log...", QKeySequence(Qt::CTRL | Qt::Key_S),
         [this] { RunLog->SaveAs(); }},
    };
    for (const auto& k : keys) {
        auto* action = new QAction(QString::fromLatin1(k.text), this);
        action->setObjectName(QString::fromLatin1(k.name));
        action->setShortcut(k.key);
        connect(action, &QAction::triggered, this, k.run);
        addAction(action);
    }
    // Tab goes as the eye reads: tool bar, then the controls top to bottom.
    QWidget* order[] = {ToolBar->widgetForAction(ActionProgram),
                        ToolBar->widgetForAction(ActionLoad),
                        ToolBar->widgetForAction(ActionHelp),
                        ToolBar->widgetForAction(ActionExit),
                        ToolBar->widgetForAction(ActionStation),
                        ToolBar->widgetForAction(ActionOptions),
                        ComboBoxCom,
                        ComboBoxBaudRate,
                        CheckBoxVerify,
                        Band->findChild<QWidget*>(QStringLiteral("ResetCounters")),
                        RunLog->findChild<QWidget*>(QStringLiteral("RunLogFold")),
                        RunLog->findChild<QWidget*>(QStringLiteral("RunLogText")),
                        RunLog->findChild<QWidget*>(QStringLiteral("RunLogCopy")),
                        RunLog->findChild<QWidget*>(QStringLiteral("RunLogSave"))};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
}

void TfrmMain::fitToContents() {
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    centralWidget()->layout()->activate();
    ensurePolished();
    adjustSize();
    setFixedSize(sizeHint());
}

void TfrmMain::fillBaudRates() {
    // Filling is no choice of the user's: nothing is saved meanwhile.
    const QSignalBlocker quiet(ComboBoxBaudRate);
    const QString chosen = ComboBoxBaudRate->currentText();
    ComboBoxBaudRate->clear();
    for (int rate : kBaudRateChoices) {
        ComboBoxBaudRate->addItem(QString::number(rate));
    }
    if (options_.extraBaudRates) {
        for (int rate : kExtraBaudRates) {
            ComboBoxBaudRate->addItem(QString::number(rate));
        }
    }
    const int index = ComboBoxBaudRate->findText(chosen);
    ComboBoxBaudRate->setCurrentIndex(index >= 0 ? index : 0);
}

void TfrmMain::fillRecentMenu() {
    RecentMenu->clear();
    int n = 0;
    for (const std::string& path : options_.recentPackages) {
        ++n;
        const QString shown = FromPath(path);
        auto* action = RecentMenu->addAction(QStringLiteral("&%1 %2").arg(n).arg(shown));
        action->setShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_0 + n)));
        // Also without the menu open.
        addAction(action);
        connect(action, &QAction::triggered, this, [this, shown] { OpenPackage(shown); });
    }
    RecentMenu->setEnabled(n > 0);
}

void TfrmMain::rememberPackage(const std::string& path) {
    const auto recent = RememberPackage(options_.recentPackages, path);
    if (recent == options_.recentPackages) {
        return;
    }
    options_.recentPackages = recent;
    SaveKorvelOptions(settings_.fileName(), options_);
    if (RecentMenu != nullptr) {
        fillRecentMenu();
    }
}

bool TfrmMain::busy() const {
    return running_ || finishing_ || (Station != nullptr && Station->running());
}

std::optional<RunRefusal> TfrmMain::runChoices(std::vector<RunPort> ports, QWidget* asker,
                                               RunChoices& choices) {
    choices.ports = std::move(ports);
    choices.baudRate = ComboBoxBaudRate->currentText().toInt();
    choices.resetLinesSetting = settings_.resetLines;
    choices.settingsFile = settings_.fileName();
    choices.verify = settings_.Verify ? options_.verifyMode : VerifyMode::None;
    choices.expectSha256 = settings_.expectSha256;
    std::string error;
    choices.serial = SerialChoiceOf(options_, error);
    if (!error.empty()) {
        return RunRefusal{kExitUsage, "Nothing was programmed. " + error + " (Options, Ctrl+P)."};
    }
    if (!options_.askBoardId) {
        return std::nullopt;
    }
    if (unattended()) {
        return RunRefusal{kExitUsage,
                          "The options ask for each board's id and nobody is there to give it: "
                          "nothing was programmed. Untick \"Ask for each board's id\" for "
                          "unattended runs."};
    }
    // In port order: the order the boards sit in and a scanner reads them.
    for (RunPort& port : choices.ports) {
        const auto id = hooks_.askBoardId(asker, QString::fromStdString(PrintableText(port.name)));
        if (!id) {
            return RunRefusal{kExitUsage, ""};
        }
        if (id->empty()) {
            return RunRefusal{kExitUsage, "No board id was given for " + PrintableText(port.name) +
                                              ": nothing was programmed. Scan the board's label "
                                              "or type its id, then start again."};
        }
        port.boardId = *id;
    }
    return std::nullopt;
}

std::string TfrmMain::pinRefusal(const std::string& path) const {
    const std::string& pinned = settings_.expectSha256;
    if (pinned.empty()) {
        return {};
    }
    const std::string where = "[KORVEL] ExpectSha256 in " + settings_.fileName();
    const std::string shown = PrintableText(path);
    if (!IsSha256Hex(pinned)) {
        return shown + " was not loaded: " + where + " is not a SHA-256 (64 hex digits): '" +
               PrintableText(pinned) + "'. Correct it, then load the package again.";
    }
    TFilePro candidate;
    if (!candidate.LoadFromFile(path)) {
        return shown + " does not load as a package; the package loaded stays.";
    }
    const std::string expected = PinnedSha256(pinned);
    if (candidate.sha256() == expected) {
        return {};
    }
    return shown +
           " is not the pinned package and was not loaded.\r\nThis station programs "
           "only the package with the SHA-256 " +
           expected + "; this one has " + candidate.sha256() +
           ".\r\nLoad the package the station is set up for, or change " + where + ".";
}

void TfrmMain::noteRefusedLoad(const std::string& why) {
    QString note = QString::fromStdString(why);
    note.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    RunLog->AddNote(note);
    statusBar()->showMessage(note, 15000);
}

void TfrmMain::showPinned() {
    const std::string& pinned = settings_.expectSha256;
    PinnedMark->setVisible(!pinned.empty());
    PinnedMark->setToolTip(
        QStringLiteral("Pinned package: this station programs only the package with the "
                       "SHA-256\n%1\nand loads no other ([KORVEL] ExpectSha256 in %2)")
            .arg(QString::fromStdString(PrintableText(pinned)),
                 QString::fromStdString(settings_.fileName())));
    PinnedMark->setAccessibleDescription(PinnedMark->toolTip());
}

void TfrmMain::showVerifyMode() {
    const QString does = options_.verifyMode == VerifyMode::Readback
                             ? QStringLiteral(
                                   "Reads the whole flash back after programming and "
                                   "compares it with the image (LPC packages)")
                             : QStringLiteral(
                                   "Has the chip compare every block it wrote with the "
                                   "image (LPC packages)");
    CheckBoxVerify->setToolTip(does);
    CheckBoxVerify->setAccessibleDescription(does);
}

void TfrmMain::runStarted(const RunRequest& request) {
    QStringList board;
    const RunPort& port = request.ports.front();
    if (!port.boardId.empty()) {
        board << QStringLiteral("board id %1").arg(PackageText(port.boardId));
    }
    if (port.serial) {
        board << QStringLiteral("serial number %1").arg(*port.serial);
    }
    const QString named = board.join(QStringLiteral(", "));
    Band->ShowRunning(named.isEmpty() ? named : named.at(0).toUpper() + named.mid(1));
    RunLog->BeginRun(QStringLiteral("Run: %1 on %2").arg(LabelFileName->text(), portName()) +
                     (named.isEmpty() ? QString() : QStringLiteral(", ") + named));
}

void TfrmMain::showRunEnd(const Outcome& outcome) {
    const std::string port = portName().toStdString();
    Band->ShowOutcome(outcome,
                      QString::fromStdString(ResultMessage(outcome.result, port).value_or("")));
    // The same last line as korvel-cli's, with the time taken on success.
    QString line = QString::fromStdString(OutcomeLine(outcome, port));
    if (outcome.result == RunResult::Success) {
        line += QStringLiteral(" (%1 s)").arg(outcome.durationSeconds, 0, 'f', 1);
    }
    RunLog->AddOutcome(line);
}

void TfrmMain::ActionOptionsExecute() {
    if (busy()) {
        return;  // a run reads the wiring and the verify choice
    }
    KorvelOptions current = options_;
    current.verify = settings_.Verify;
    current.resetLines = settings_.resetLines;
    if (const auto edited = hooks_.editOptions(this, current)) {
        applyOptions(*edited);
    }
}

void TfrmMain::applyOptions(const KorvelOptions& options) {
    options_ = options;
    SaveKorvelOptions(settings_.fileName(), options_);
    settings_.resetLines = options_.resetLines;
    CheckBoxVerify->setChecked(options_.verify);
    showVerifyMode();
    Band->setSound(options_.sound);
    fillBaudRates();
    if (Station != nullptr && Station->recordFile().isEmpty()) {
        Station->setRecordFile(QString::fromStdString(options_.recordFile));
    }
}

void TfrmMain::ActionStationExecute() {
    if (Station == nullptr) {
        Station = new StationView(hooks_.station, this);
        Station->setRecordFile(QString::fromStdString(options_.recordFile));
        Station->request = [this](std::vector<RunPort> ports,
                                  std::string& whyNot) -> std::optional<RunRequest> {
            if (running_ || finishing_) {
                whyNot = "The window's own run is going on: wait for it to end.";
                return std::nullopt;
            }
            if (Trimmed(settings_.LastFiles).empty() || package_.entryCount() == 0) {
                whyNot = "Load a package in the main window first (F2).";
                return std::nullopt;
            }
            RunChoices choices;
            if (const auto refusal = runChoices(std::move(ports), Station, choices)) {
                whyNot = refusal->message.empty() ? "No board was programmed." : refusal->message;
                return std::nullopt;
            }
            const std::string path = package_.fileName();
            auto prepared = PrepareRun(package_, choices, &dialogs_,
                                       [&](bool loads) { showPackage(path, loads); });
            if (const auto* refusal = std::get_if<RunRefusal>(&prepared)) {
                whyNot = refusal->message.empty() ? "No board was programmed." : refusal->message;
                return std::nullopt;
            }
            return std::get<RunRequest>(std::move(prepared));
        };
        connect(Station, &StationView::runningChanged, this, [this](bool running) {
            // The station's runs read the window's package: it stays as it is.
            if (running) {
                programEnabledBeforeStation_ = ActionProgram->isEnabled();
            }
            ActionProgram->setEnabled(!running && programEnabledBeforeStation_);
            ActionLoad->setEnabled(!running);
        });
    }
    Station->show();
    Station->raise();
    Station->activateWindow();
}

SingleInstance::Answer TfrmMain::ReceivePackage(const QString& path) {
    if (busy()) {
        const QString note = QStringLiteral(
                                 "A run is going on: %1 was not loaded. Load it when "
                                 "the run has ended.")
                                 .arg(QFileInfo(path).fileName());
        RunLog->AddNote(note);
        statusBar()->showMessage(note, 15000);
        return SingleInstance::Answer::Busy;
    }
    // No dialog here: the second start waits for the answer.
    if (const std::string refusal = pinRefusal(ToPath(path)); !refusal.empty()) {
        noteRefusedLoad(refusal);
        return SingleInstance::Answer::NotLoaded;
    }
    OpenPackage(path);
    raise();
    activateWindow();
    return package_.entryCount() > 0 && settings_.LastFiles == ToPath(path)
               ? SingleInstance::Answer::Loaded
               : SingleInstance::Answer::NotLoaded;
}

namespace {

// The one local .pr2 file of a drag, or an empty text.
QString DroppedPackage(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) {
        return {};
    }
    const QUrl url = data->urls().front();
    const QString path = url.toLocalFile();
    return url.isLocalFile() && path.endsWith(QStringLiteral(".pr2"), Qt::CaseInsensitive)
               ? path
               : QString();
}

}  // namespace

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (!busy() && !DroppedPackage(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void TfrmMain::dropEvent(QDropEvent* event) {
    const QString path = DroppedPackage(event->mimeData());
    if (path.isEmpty() || busy()) {
        return;
    }
    event->acceptProposedAction();
    // After the drop has returned: a message about the package must not hold
    // the program it was dragged from.
    QTimer::singleShot(0, this, [this, path] { OpenPackage(path); });
}

}  // namespace korvel::app
