#include "app/tfrm_main.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <variant>

#include "app/file_version.h"
#include "app/icon_set.h"
#include "app/port_tooltip.h"
#include "app/progress_bar_control.h"
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

QString DefaultHelpFile() {
    const std::string exe = ExecutablePath();
    if (exe.empty()) {
        return {};
    }
    return QString::fromStdString(std::filesystem::path(exe).replace_extension(".chm").string());
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
        hooks_.helpFile = DefaultHelpFile();
    }

    setObjectName(QStringLiteral("frmMain"));
    setWindowIcon(ProgramIcon());
    // The tool bar is not for hiding.
    setContextMenuPolicy(Qt::NoContextMenu);
    createActions();
    createControls();

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

    ensurePolished();
    adjustSize();
    setFixedSize(sizeHint());
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
    if (running_) {
        return;  // the worker reads the package
    }
    const QString chosen = hooks_.chooseFile(this, QStringLiteral("Pr2 Files (*.pr2)"));
    if (chosen.isEmpty()) {
        return;
    }
    LabelFileName->setText(QFileInfo(chosen).fileName());
    settings_.LastFiles = ToPath(chosen);
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
    choices.ports = {{portName().toStdString(), settings_.serialPort, ""}};
    choices.baudRate = ComboBoxBaudRate->currentText().toInt();
    choices.resetLinesSetting = settings_.resetLines;
    choices.settingsFile = settings_.fileName();
    choices.verify = settings_.Verify;
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
    if (const auto message = OutcomeMessage(outcome, portName().toStdString())) {
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

}  // namespace korvel::app
