// The main window: its controls and states, loading packages, runs against a
// virtual board with the dialogs answered as a user would, stop, close, help,
// exit and the unattended mode.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QTest>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#include "app/progress_bar_control.h"
#include "app/status_panel_control.h"
#include "app/tfrm_main.h"
#include "jobs/exit_codes.h"
#include "jobs/generic_thread.h"
#include "serial/port_resolver.h"
#include "serial/serial_port.h"
#include "serial/virtual_serial_device.h"
#include "settings/settings.h"
#include "sim/lpc_board.h"
#include "sim/lpc_hex_writer.h"
#include "sim/package_writer.h"
#include "tests/gui/dialog_answerer.h"
#include "tests/gui/port_tooltips.h"
#include "tests/gui/serve_events.h"
#include "tests/support/scripted_line_end.h"
#include "tests/support/temp_dir.h"

using namespace korvel;
using app::TfrmMain;
using test::DialogAnswerer;
using test::ServeEventsUntil;

namespace {

constexpr int kBoardPort = 41;
constexpr int kMissingPort = 42;
constexpr int kLpcPort = 43;
constexpr int kManySteps = 100000;

// What the fake procedures saw, for the test to check after the run.
struct FakeRunLog {
    std::atomic<int> baudRate{0};
    std::atomic<int> pollAnswer{0};
    std::atomic<int> steps{0};
    std::atomic<bool> verify{false};
};
FakeRunLog& RunLog() {
    static FakeRunLog log;
    return log;
}

struct FakeProcedure : ProcContext {
    FakeProcedure(int portNumber, int baudRate) : port(portNumber, baudRate, 0) {}
    SerialPort port;
};

// A small programming procedure against the virtual board: synchronise, a
// polled message closed by its poll function, a question, then the image
// byte by byte with progress.
RunResult RunFakeProgramming(GenericThread& thread) {
    FakeProcedure proc(thread.portNumber(), thread.baudRate());
    return thread.Drive(
        proc, proc.port, [&] { proc.RequestAbort(); },
        [&] {
            RunLog().baudRate = thread.baudRate();
            RunLog().verify = thread.verifyRequested();
            proc.Status(StatusId::Connecting);
            const std::uint8_t sync = '?';
            proc.port.write(&sync, 1);
            std::string reply;
            const std::uint32_t start = proc.port.tickMs();
            while (reply.find("Synchronized\r\n") == std::string::npos &&
                   proc.port.tickMs() - start < 1000) {
                std::uint8_t buffer[32];
                const auto n = proc.port.read(buffer, sizeof buffer);
                reply.append(reinterpret_cast<const char*>(buffer), n);
            }
            if (reply != "Synchronized\r\n") {
                return RunResult::ProgrammingError;
            }
            int polls = 0;
            RunLog().pollAnswer = proc.onShowOkUntil(
                "Reset the board", [&](bool init) { return !init && ++polls >= 3; });
            if (proc.onAskYesNo("Erase all?") != DialogYes) {
                return RunResult::ProgrammingError;
            }
            const TFilePro& package = thread.package();
            proc.SetProgressMax(package.entrySize(0));
            proc.Status(StatusId::Programming);
            for (int i = 0; i < package.entrySize(0); ++i) {
                proc.port.write(package.entryData(0) + i, 1);
                proc.StepProgress(1);
            }
            return RunResult::Success;
        });
}

// Reports progress until the user stops it.
RunResult RunUntilStopped(GenericThread& thread) {
    FakeProcedure proc(thread.portNumber(), thread.baudRate());
    return thread.Drive(
        proc, proc.port, [&] { proc.RequestAbort(); },
        [&] {
            proc.SetProgressMax(kManySteps);
            proc.Status(StatusId::Programming);
            for (int i = 0; i < kManySteps; ++i) {
                if (proc.abortRequested) {
                    return RunResult::Aborted;
                }
                proc.StepProgress(1);
                ++RunLog().steps;
                // In real time: reports do not wait for the window, so
                // nothing else holds the run back until the user stops it.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return RunResult::ProgrammingError;
        });
}

RunResult RunDeviceError(GenericThread& thread) {
    FakeProcedure proc(thread.portNumber(), thread.baudRate());
    return thread.Drive(proc, proc.port, nullptr, [&] {
        proc.Status("\r\n: the board refused the erase");
        return RunResult::DeviceError;
    });
}

RunResult RunThrowing(GenericThread& thread) {
    FakeProcedure proc(thread.portNumber(), thread.baudRate());
    return thread.Drive(proc, proc.port, nullptr,
                        []() -> RunResult { throw std::runtime_error("lost the board"); });
}

constexpr DriverEntry kFakeDrivers[] = {
    {'F', "fake programming", RunFakeProgramming},
    {'\'', "fake programming", RunFakeProgramming},
    {'S', "stoppable", RunUntilStopped},
    {'9', "device error", RunDeviceError},
    {'G', "throwing", RunThrowing},
};

const std::vector<std::uint8_t> kImage = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};

}  // namespace

class TfrmMainTest : public QObject {
    Q_OBJECT

  private:
    test::TempDir dir_;
    std::string settingsFile_;
    std::unique_ptr<test::ScriptedLineEnd> board_;
    std::unique_ptr<test::StrayDialogCloser> strays_;
    std::vector<int> exits_;
    std::vector<QString> opened_;
    QString chosenFile_;

    Settings& settings() { return Settings::Instance(); }

    std::string package(char kind, const std::string& name = "pkg.pr2") {
        return dir_.write(name, sim::BuildPackage({{"LPC2138", "1.07", kind, kImage}}));
    }

    app::MainWindowHooks hooks(const QString& helpFile = {}) {
        app::MainWindowHooks hooks;
        hooks.drivers = kFakeDrivers;
        hooks.endProcess = [this](int code) { exits_.push_back(code); };
        hooks.chooseFile = [this](QWidget*, const QString& filter) {
            [&] { QCOMPARE(filter, QString("Pr2 Files (*.pr2)")); }();
            return chosenFile_;
        };
        hooks.openDocument = [this](const QString& path) {
            opened_.push_back(path);
            return !path.endsWith("broken.chm");
        };
        hooks.helpFile =
            helpFile.isEmpty() ? QString::fromStdString(dir_.path("none.chm").string()) : helpFile;
        return hooks;
    }

    std::unique_ptr<TfrmMain> makeWindow(const QString& helpFile = {}) {
        auto window = std::make_unique<TfrmMain>(hooks(helpFile));
        window->show();
        // Shortcuts reach the active window only.
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get())) {
            qWarning("the window did not become active");
        }
        return window;
    }

    template <typename T>
    static T* control(TfrmMain& window, const char* name) {
        T* found = window.findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr) {
            qFatal("no control %s", name);
        }
        return found;
    }

    static QString status(TfrmMain& window) {
        return control<QLabel>(window, "PanelStatus")->text();
    }
    static app::ProgressBarControl* bar(TfrmMain& window) {
        return control<app::ProgressBarControl>(window, "ProgressBar");
    }

    static bool waitForRunEnd(TfrmMain& window) {
        return ServeEventsUntil([&] { return !window.running(); }, 20000);
    }

    std::string settingsText() { return dir_.read("korvel.ini"); }

  private slots:
    void initTestCase() {
        settingsFile_ = dir_.path("korvel.ini").string();
        Settings::Initialise(settingsFile_, {}, false);
        Settings::Instance();
        PortResolver::instance().mapPath(3, "/dev/ttyUSB7");
    }

    void init() {
        settings().LastFiles.clear();
        settings().SerialPort = kBoardPort;
        settings().AutoRun = false;
        settings().Verify = false;
        settings().unattendedExit.clear();
        settings().Save();
        exits_.clear();
        opened_.clear();
        chosenFile_.clear();
        RunLog().steps = 0;
        RunLog().baudRate = 0;
        RunLog().pollAnswer = 0;
        RunLog().verify = false;
        strays_ = std::make_unique<test::StrayDialogCloser>();
        board_ = std::make_unique<test::ScriptedLineEnd>();
        board_->responder = [this](VirtualNs at, std::uint8_t byte) {
            if (byte == '?') {
                const std::string text = "Synchronized\r\n";
                board_->send(at + 1'000'000, std::vector<std::uint8_t>(text.begin(), text.end()));
            }
        };
        PortResolver::instance().registerDevice(
            kBoardPort, [this] { return std::make_unique<VirtualSerialDevice>(*board_); });
        VirtualSerialDevice::Options refused;
        refused.openFailure = OpenFailure{2, "No such file or directory", false};
        PortResolver::instance().registerDevice(kMissingPort, [this, refused] {
            return std::make_unique<VirtualSerialDevice>(*board_, refused);
        });
    }

    void cleanup() {
        QVERIFY2(strays_->closed.isEmpty(), qPrintable(strays_->closed.join(", ")));
        strays_.reset();
        PortResolver::instance().unregisterDevice(kBoardPort);
        PortResolver::instance().unregisterDevice(kMissingPort);
    }

    void startsIdleWithItsTitleControlsAndShortcuts() {
        settings().SerialPort = 3;
        auto window = makeWindow();
        QCOMPARE(window->windowTitle(), QString("Korvel V.1.064"));
        QCOMPARE(window->ReadFileVersion(), std::string("1.064"));
        QCOMPARE(window->programName(), std::string("Korvel"));
        QCOMPARE(status(*window), QString("Idle"));
        QCOMPARE(control<QLabel>(*window, "LabelFileName")->text(), QString("-"));
        QCOMPARE(control<QGroupBox>(*window, "GroupBoxFileName")->title(), QString("File Name"));
        QCOMPARE(control<QGroupBox>(*window, "GroupBoxCom")->title(), QString("COM port"));
        QCOMPARE(control<QGroupBox>(*window, "GroupBoxBaudRate")->title(), QString("Baud Rate"));
        QVERIFY(control<QGroupBox>(*window, "GroupBoxCom")->isVisible());
        QVERIFY(!control<QGroupBox>(*window, "GroupBoxBaudRate")->isVisible());
        QCOMPARE(control<QLabel>(*window, "StatusBarDevice")->text(), QString("Device: "));
        QCOMPARE(control<QLabel>(*window, "StatusBarVersion")->text(), QString("Version: "));
        QCOMPARE(bar(*window)->position(), 0);

        auto* com = control<QComboBox>(*window, "ComboBoxCom");
        QCOMPARE(com->count(), 255);
        QCOMPARE(com->itemText(0), QString("COM1"));
        QCOMPARE(com->itemText(254), QString("COM255"));
        QCOMPARE(com->currentIndex(), 2);
        // Which device each port name stands for: the settings' mapping, else
        // the system's default.
        QCOMPARE(com->itemData(2, Qt::ToolTipRole).toString(), test::ExpectedPortToolTip(3));
        QCOMPARE(com->itemData(4, Qt::ToolTipRole).toString(), test::ExpectedPortToolTip(5));
        QCOMPARE(com->toolTip(), test::ExpectedPortToolTip(3));
        auto* baud = control<QComboBox>(*window, "ComboBoxBaudRate");
        QCOMPARE(baud->count(), 3);
        QCOMPARE(baud->itemText(0), QString("38400"));
        QCOMPARE(baud->itemText(1), QString("19200"));
        QCOMPARE(baud->itemText(2), QString("9600"));
        QCOMPARE(baud->currentIndex(), 0);

        const struct {
            const char* action;
            const char* button;
            const char* hint;
            QKeySequence shortcut;
            bool enabled;
        } actions[] = {
            {"ActionProgram", "cmdProgram", "Start", QKeySequence(Qt::Key_F3), false},
            {"ActionLoad", "cmdLoad", "Load", QKeySequence(Qt::Key_F2), true},
            {"ActionHelp", "cmdHelp", "Help", QKeySequence(Qt::Key_F1), true},
            {"ActionExit", "cmdExit", "Wxit", QKeySequence(Qt::CTRL | Qt::Key_X), true},
        };
        for (const auto& a : actions) {
            auto* action = control<QAction>(*window, a.action);
            QCOMPARE(action->toolTip(), QString(a.hint));
            QCOMPARE(action->shortcut(), a.shortcut);
            QCOMPARE(action->isEnabled(), a.enabled);
            QVERIFY(!action->icon().pixmap(32, 32).isNull());
            auto* button = control<QToolButton>(*window, a.button);
            QCOMPARE(button->defaultAction(), action);
            QCOMPARE(button->iconSize(), QSize(32, 32));
        }

        // Fixed size, minimise and close only.
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QVERIFY(!window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(exits_.empty());
    }

    void loadPackageShowsOrHidesTheGroupsByKind_data() {
        QTest::addColumn<char>("kind");
        QTest::addColumn<bool>("com");
        QTest::addColumn<bool>("baud");
        for (char kind : {'\'', ',', '-', '0', '=', 'D', 'F'}) {
            QTest::newRow(QByteArray(1, kind)) << kind << true << true;
        }
        for (char kind : {'G', '9', '(', ')', '7'}) {
            QTest::newRow(QByteArray(1, kind)) << kind << true << false;
        }
        QTest::newRow("4") << '4' << false << false;
        QTest::newRow("5") << '5' << false << false;
    }
    void loadPackageShowsOrHidesTheGroupsByKind() {
        QFETCH(char, kind);
        QFETCH(bool, com);
        QFETCH(bool, baud);
        settings().LastFiles = package(kind, "firmware.pr2");
        auto window = makeWindow();
        QCOMPARE(control<QGroupBox>(*window, "GroupBoxCom")->isVisible(), com);
        QCOMPARE(control<QGroupBox>(*window, "GroupBoxBaudRate")->isVisible(), baud);
        auto* label = control<QLabel>(*window, "LabelFileName");
        QCOMPARE(label->text(), QString("firmware.pr2"));
        QCOMPARE(label->toolTip(), QString::fromStdString(settings().LastFiles));
        QCOMPARE(control<QLabel>(*window, "StatusBarDevice")->text(), QString("Device: LPC2138"));
        QCOMPARE(control<QLabel>(*window, "StatusBarVersion")->text(), QString("Version: 1.07"));
        QVERIFY(control<QAction>(*window, "ActionProgram")->isEnabled());
        // The window keeps its size whichever groups show.
        QCOMPARE(window->minimumSize(), window->maximumSize());
    }

    void aPackageThatDoesNotLoadDisablesProgramAndForgetsThePath() {
        const std::string good = package('F', "good.pr2");
        settings().LastFiles = good;
        settings().Save();
        auto window = makeWindow();
        const std::string broken = dir_.write("broken.pr2", std::string("not a package"));
        chosenFile_ = QString::fromStdString(broken);
        window->ActionLoadExecute();
        QVERIFY(!control<QAction>(*window, "ActionProgram")->isEnabled());
        QCOMPARE(control<QLabel>(*window, "LabelFileName")->text(), QString("broken.pr2"));
        QCOMPARE(control<QLabel>(*window, "LabelFileName")->toolTip(), QString());
        QCOMPARE(control<QLabel>(*window, "StatusBarDevice")->text(), QString("Device: "));
        QCOMPARE(control<QLabel>(*window, "StatusBarVersion")->text(), QString("Version: "));
        // Forgotten in memory only: the file keeps the path chosen.
        QCOMPARE(settings().LastFiles, std::string());
        QVERIFY(settingsText().find("LastFiles=" + broken) != std::string::npos);
        // Program does nothing now, whatever calls it.
        window->ActionProgramExecute();
        QVERIFY(!window->running());

        settings().LastFiles = dir_.path("missing.pr2").string();
        window->LoadPackage(settings().LastFiles);
        QCOMPARE(settings().LastFiles, std::string());
    }

    void loadRemembersTheChosenFileAndCancelChangesNothing() {
        auto window = makeWindow();
        chosenFile_.clear();
        window->ActionLoadExecute();  // cancelled
        QCOMPARE(control<QLabel>(*window, "LabelFileName")->text(), QString("-"));
        QVERIFY(!control<QAction>(*window, "ActionProgram")->isEnabled());

        const std::string file = package('G', "unit.pr2");
        chosenFile_ = QString::fromStdString(file);
        QTest::keyClick(window.get(), Qt::Key_F2);
        QCOMPARE(control<QLabel>(*window, "LabelFileName")->text(), QString("unit.pr2"));
        QCOMPARE(settings().LastFiles, file);
        QVERIFY(settingsText().find("LastFiles=" + file) != std::string::npos);
        QCOMPARE(window->package().kind(), 'G');
        QVERIFY(control<QAction>(*window, "ActionProgram")->isEnabled());
    }

    void aFullRunProgramsTheBoardAndReportsSuccess() {
        settings().LastFiles = package('F');
        auto window = makeWindow();
        control<QComboBox>(*window, "ComboBoxBaudRate")->setCurrentIndex(1);
        // The box is kept at once and asks the run for a read-back.
        control<QCheckBox>(*window, "CheckBoxVerify")->setChecked(true);
        QVERIFY(settings().Verify);
        QVERIFY(settingsText().find("Verify=1") != std::string::npos);
        {
            bool runningLook = false;
            DialogAnswerer answerer;
            answerer
                .then(DialogAnswerer::Leave())  // "Reset the board": its poll closes it
                .then([&](app::TfrmShowMessage& dialog) {
                    // While the worker waits for this answer, the window shows the run.
                    runningLook = window->running() &&
                                  !control<QAction>(*window, "ActionLoad")->isEnabled() &&
                                  !control<QAction>(*window, "ActionHelp")->isEnabled() &&
                                  !control<QComboBox>(*window, "ComboBoxCom")->isEnabled() &&
                                  !control<QGroupBox>(*window, "GroupBoxCom")->isEnabled() &&
                                  !control<QLabel>(*window, "LabelFileName")->isEnabled() &&
                                  !control<QCheckBox>(*window, "CheckBoxVerify")->isEnabled() &&
                                  control<QAction>(*window, "ActionProgram")->isEnabled() &&
                                  control<QAction>(*window, "ActionExit")->isEnabled() &&
                                  control<QAction>(*window, "ActionProgram")->toolTip() == "Stop" &&
                                  status(*window) == "Connecting";
                    DialogAnswerer::Click("cmdYesNoYes")(dialog);
                })
                .then(DialogAnswerer::Click("cmdOkOk"));
            QTest::keyClick(window.get(), Qt::Key_F3);
            QVERIFY(window->running());
            QVERIFY(waitForRunEnd(*window));

            QVERIFY(runningLook);
            QCOMPARE(answerer.texts,
                     (QStringList{"Reset the board", "Erase all?", "Programming succesful"}));
            QCOMPARE(answerer.unanswered, 0);
            QCOMPARE(RunLog().pollAnswer.load(), 3);
            QCOMPARE(RunLog().baudRate.load(), 19200);
            QVERIFY(RunLog().verify.load());
            QCOMPARE(status(*window), QString("Done"));
            QCOMPARE(bar(*window)->maximum(), int(kImage.size()));
            QCOMPARE(bar(*window)->position(), int(kImage.size()));
            // The board heard the synchronisation and then the image.
            std::vector<std::uint8_t> expected{'?'};
            expected.insert(expected.end(), kImage.begin(), kImage.end());
            QCOMPARE(board_->hostBytes, expected);
            // Idle again.
            QCOMPARE(control<QAction>(*window, "ActionProgram")->toolTip(), QString("Program"));
            QVERIFY(control<QAction>(*window, "ActionLoad")->isEnabled());
            QVERIFY(control<QComboBox>(*window, "ComboBoxCom")->isEnabled());
            QVERIFY(exits_.empty());
        }

        // A second run on the same window, refused at the question this time.
        DialogAnswerer second;
        second.then(DialogAnswerer::Leave())
            .then(DialogAnswerer::Click("cmdYesNoNo"))
            .then(DialogAnswerer::Click("cmdOkOk"));
        window->ActionProgramExecute();
        QVERIFY(waitForRunEnd(*window));
        QCOMPARE(second.texts, (QStringList{"Reset the board", "Erase all?", "Programming error"}));
        QCOMPARE(status(*window), QString("Error"));
    }

    // The real procedures against the simulated LPC2138: F3 to "Done".
    void aRunWithTheIspProcedureProgramsTheSimulatedLpc2138() {
        const sim::LpcPart* part = sim::FindLpcPart("LPC2138");
        QVERIFY(part != nullptr);
        sim::LpcBoard lpc(*part);
        PortResolver::instance().registerDevice(
            kLpcPort, [&] { return std::make_unique<VirtualSerialDevice>(lpc); });
        settings().SerialPort = kLpcPort;
        std::vector<std::uint8_t> firmware(3000);
        for (std::size_t i = 0; i < firmware.size(); ++i) {
            firmware[i] = static_cast<std::uint8_t>(i * 13 + 7);
        }
        const std::vector<sim::HexSegment> segments = {{0, firmware}};
        const std::string hex = sim::WriteIntelHex(segments);
        settings().LastFiles = dir_.write(
            "lpc.pr2", sim::BuildPackage({{"LPC2138", "2.00", 'F',
                                           std::vector<std::uint8_t>(hex.begin(), hex.end())}}));

        auto hooks = this->hooks();
        hooks.drivers = StandardDrivers();
        auto window = std::make_unique<TfrmMain>(hooks);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        DialogAnswerer answerer;
        answerer.then(DialogAnswerer::Click("cmdOkOk"));
        QTest::keyClick(window.get(), Qt::Key_F3);
        QVERIFY(waitForRunEnd(*window));
        PortResolver::instance().unregisterDevice(kLpcPort);

        QCOMPARE(answerer.texts, QStringList{"Programming succesful"});
        QCOMPARE(status(*window), QString("Done"));
        QCOMPARE(bar(*window)->position(), bar(*window)->maximum());
        QVERIFY(lpc.flash() ==
                sim::ExpectedLpcFlash(segments, static_cast<std::uint32_t>(lpc.flash().size())));
        QVERIFY(lpc.started().has_value());
    }

    void stopDuringARunEndsAborted() {
        settings().LastFiles = package('S');
        auto window = makeWindow();
        DialogAnswerer answerer;
        window->ActionProgramExecute();
        QVERIFY(ServeEventsUntil([&] { return bar(*window)->position() > 10; }));
        QCOMPARE(control<QAction>(*window, "ActionProgram")->toolTip(), QString("Stop"));
        QTest::keyClick(window.get(), Qt::Key_F3);  // Program acts as Stop
        QVERIFY(waitForRunEnd(*window));
        QCOMPARE(status(*window), QString("Aborted"));
        QCOMPARE(bar(*window)->position(), 0);
        QVERIFY(answerer.texts.isEmpty());  // no message for an abort
        QVERIFY(RunLog().steps < kManySteps);
    }

    void resultsWithoutAProcedureShowTheirMessage_data() {
        QTest::addColumn<char>("kind");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("status");
        QTest::newRow("kind outside the table")
            << '4' << kBoardPort << "Device not supported\r\nPlease check for Korvel updates"
            << "Error";
        QTest::newRow("port that does not open")
            << 'F' << kMissingPort << "Unable to open port COM42"
            << "Idle";
        // A failure's own words follow the message; the status line says "Error".
        QTest::newRow("device error")
            << '9' << kBoardPort << "Device error\r\nthe board refused the erase"
            << "Error";
        QTest::newRow("exception in the procedure")
            << 'G' << kBoardPort << "Programming error\r\nlost the board"
            << "Error";
    }
    void resultsWithoutAProcedureShowTheirMessage() {
        QFETCH(char, kind);
        QFETCH(int, port);
        QFETCH(QString, message);
        QFETCH(QString, status);
        settings().LastFiles = package(kind);
        settings().SerialPort = port;
        auto window = makeWindow();
        DialogAnswerer answerer;
        answerer.then(DialogAnswerer::Click("cmdOkOk"));
        window->ActionProgramExecute();
        QVERIFY(waitForRunEnd(*window));
        QCOMPARE(answerer.texts, QStringList{message});
        QCOMPARE(TfrmMainTest::status(*window), status);
        if (kind == '4') {
            QVERIFY(board_->hostBytes.empty());
        }
    }

    void aStoredPortBeyondTheListSelectsNothingButIsStillUsed() {
        settings().SerialPort = 256;
        settings().LastFiles = package('F');
        PortResolver::instance().registerDevice(256, [this] {
            VirtualSerialDevice::Options refused;
            refused.openFailure = OpenFailure{2, "No such file or directory", false};
            return std::make_unique<VirtualSerialDevice>(*board_, refused);
        });
        auto window = makeWindow();
        QCOMPARE(control<QComboBox>(*window, "ComboBoxCom")->currentIndex(), -1);
        // A change of the baud rate saves, but must not turn the port into 0.
        control<QComboBox>(*window, "ComboBoxBaudRate")->setCurrentIndex(2);
        QCOMPARE(settings().SerialPort, 256);
        QVERIFY(settingsText().find("SerialPort=256") != std::string::npos);
        DialogAnswerer answerer;
        answerer.then(DialogAnswerer::Click("cmdOkOk"));
        window->ActionProgramExecute();
        QVERIFY(waitForRunEnd(*window));
        QCOMPARE(answerer.texts, QStringList{"Unable to open port COM256"});
        PortResolver::instance().unregisterDevice(256);
    }

    void theAccessCodeGuardsKindSeven() {
        settings().LastFiles = package('7');
        auto window = makeWindow();
        {
            DialogAnswerer answerer;
            answerer.then(DialogAnswerer::Type("kzx", Qt::Key_Return))
                .then(DialogAnswerer::Click("cmdOkOk"));
            window->ActionProgramExecute();
            QCOMPARE(answerer.texts, (QStringList{"Password", "Wrong password"}));
            QVERIFY(!window->running());
            QCOMPARE(status(*window), QString("Idle"));
        }
        {
            DialogAnswerer answerer;
            answerer.then(DialogAnswerer::Click("cmdPasswordNo"));
            window->ActionProgramExecute();
            QVERIFY(!window->running());
            QCOMPARE(answerer.texts, QStringList{"Password"});
        }
        {
            // Accepted in other letter case; kind '7' has no procedure here.
            DialogAnswerer answerer;
            answerer.then(DialogAnswerer::Type("KZT", Qt::Key_Return))
                .then(DialogAnswerer::Click("cmdOkOk"));
            window->ActionProgramExecute();
            QVERIFY(waitForRunEnd(*window));
            QCOMPARE(answerer.texts,
                     (QStringList{"Password",
                                  "Device not supported\r\nPlease check for Korvel updates"}));
        }
    }

    void aPortChangeIsSavedAndTheBaudRateIsNot() {
        settings().SerialPort = 2;
        settings().Save();
        auto window = makeWindow();
        control<QComboBox>(*window, "ComboBoxCom")->setCurrentIndex(6);
        QCOMPARE(settings().SerialPort, 7);
        QVERIFY(settingsText().find("SerialPort=7") != std::string::npos);
        control<QComboBox>(*window, "ComboBoxBaudRate")->setCurrentIndex(2);
        QVERIFY(settingsText().find("9600") == std::string::npos);
        QCOMPARE(control<QComboBox>(*window, "ComboBoxCom")->toolTip(),
                 test::ExpectedPortToolTip(7));
    }

    void autoRunStartsRightAfterTheWindowShows() {
        settings().LastFiles = package('S');
        settings().AutoRun = true;
        auto window = std::make_unique<TfrmMain>(hooks());
        QVERIFY(!window->running());  // not before the message loop runs
        window->show();
        QVERIFY(ServeEventsUntil([&] { return bar(*window)->position() > 0; }, 5000));
        QVERIFY(window->running());
        window->ActionProgramExecute();  // stop it
        QVERIFY(waitForRunEnd(*window));
        QCOMPARE(status(*window), QString("Aborted"));
    }

    void autoRunWithAPackageThatDoesNotLoadStartsNothing() {
        settings().LastFiles = dir_.path("missing.pr2").string();
        settings().AutoRun = true;
        DialogAnswerer answerer;
        auto window = makeWindow();
        QTest::qWait(50);
        QVERIFY(!window->running());
        QVERIFY(answerer.texts.isEmpty());
        QCOMPARE(status(*window), QString("Idle"));
    }

    void unattendedModeEndsTheProcessWithTheResult() {
        settings().LastFiles = package('F');
        settings().AutoRun = true;
        settings().unattendedExit = "1";
        DialogAnswerer answerer;
        answerer.then(DialogAnswerer::Leave()).then(DialogAnswerer::Click("cmdYesNoYes"));
        auto window = makeWindow();
        QVERIFY(ServeEventsUntil([&] { return !exits_.empty(); }, 20000));
        QCOMPARE(exits_, std::vector<int>{0});
        QCOMPARE(answerer.texts, (QStringList{"Reset the board", "Erase all?"}));  // no outcome

        settings().LastFiles = package('4');
        window->LoadPackage(settings().LastFiles);
        window->ActionProgramExecute();
        QVERIFY(waitForRunEnd(*window));
        QCOMPARE(exits_, (std::vector<int>{0, 2}));
    }

    void unattendedNeverWaitsForAPerson() {
        struct Case {
            const char* name;
            std::string lastFiles;
            bool autoRun;
            bool threadFails;
            int exit;
        };
        const Case cases[] = {
            {"the package does not load", dir_.path("missing.pr2").string(), true, false,
             kExitBadPackage},
            {"AutoRun is not set", package('9', "nine.pr2"), false, false, kExitUsage},
            {"the kind asks for the access code", package('7', "seven.pr2"), true, false,
             kExitAccessCode},
            {"the run's thread does not start", package('9', "nine.pr2"), true, true,
             static_cast<int>(RunResult::ProgrammingError)},
        };
        for (const Case& c : cases) {
            settings().LastFiles = c.lastFiles;
            settings().AutoRun = c.autoRun;
            settings().unattendedExit = "1";
            exits_.clear();
            DialogAnswerer answerer;
            auto h = hooks();
            if (c.threadFails) {
                h.startRun = [](GenericThread&) {
                    throw std::system_error(
                        std::make_error_code(std::errc::resource_unavailable_try_again));
                };
            }
            auto window = std::make_unique<TfrmMain>(h);
            window->show();
            QVERIFY2(ServeEventsUntil([&] { return !exits_.empty(); }, 5000), c.name);
            QTest::qWait(20);
            QCOMPARE(exits_, std::vector<int>{c.exit});
            QVERIFY2(answerer.texts.isEmpty(), c.name);
            QVERIFY(!window->running());
        }
    }

    void aRunThatCannotStartReturnsToIdleAndSaysWhy() {
        settings().LastFiles = package('9');
        auto h = hooks();
        h.startRun = [](GenericThread&) {
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                    "no thread");
        };
        auto window = std::make_unique<TfrmMain>(h);
        window->show();
        DialogAnswerer answerer;
        answerer.then(DialogAnswerer::Click("cmdOkOk"));
        window->ActionProgramExecute();
        QCOMPARE(answerer.texts.size(), 1);
        QVERIFY2(answerer.texts[0].startsWith("The run could not start: no thread"),
                 qPrintable(answerer.texts[0]));
        QVERIFY(!window->running());
        QCOMPARE(status(*window), QString("Error"));
        QCOMPARE(control<QAction>(*window, "ActionProgram")->toolTip(), QString("Program"));
        QVERIFY(control<QAction>(*window, "ActionLoad")->isEnabled());
    }

    void aPackageChangedOnDiskIsLoadedAgainBeforeTheRun() {
        const std::string file = package('9', "changing.pr2");
        settings().LastFiles = file;
        auto window = makeWindow();
        QCOMPARE(control<QLabel>(*window, "StatusBarDevice")->text(), QString("Device: LPC2138"));
        // Rewritten behind the window's back, with an escape sequence in its name.
        dir_.write("changing.pr2",
                   sim::BuildPackage({{"NEW\x1b[2J", "2.00", '9', {1, 2, 3, 4, 5}}}));
        {
            DialogAnswerer answerer;
            answerer.then(DialogAnswerer::Click("cmdOkOk"));
            window->ActionProgramExecute();
            QVERIFY(waitForRunEnd(*window));
            QCOMPARE(answerer.texts, QStringList{"Device error\r\nthe board refused the erase"});
        }
        QCOMPARE(control<QLabel>(*window, "StatusBarDevice")->text(),
                 QString("Device: NEW\\x1B[2J"));
        QCOMPARE(control<QLabel>(*window, "StatusBarVersion")->text(), QString("Version: 2.00"));
        QCOMPARE(window->package().entrySize(0), 5);

        dir_.write("changing.pr2", std::string("no longer a package"));
        {
            DialogAnswerer answerer;
            answerer.then(DialogAnswerer::Click("cmdOkOk"));
            window->ActionProgramExecute();
            QCOMPARE(answerer.texts,
                     QStringList{QString::fromStdString(
                         "The package file changed on disk and no longer loads:\r\n" + file)});
        }
        QVERIFY(!window->running());
        QVERIFY(!control<QAction>(*window, "ActionProgram")->isEnabled());
        QCOMPARE(control<QLabel>(*window, "StatusBarDevice")->text(), QString("Device: "));
    }

    void unattendedProgramEndsWithTheResultAsExitCode() {
        // The real program, from a folder of its own so that its settings
        // file lands there.
        const QByteArray exe = qgetenv("KORVEL_EXE");
        if (exe.isEmpty()) {
            QSKIP("KORVEL_EXE is not set (ctest sets it)");
        }
        std::filesystem::create_directories(dir_.path("bin"));
        const std::filesystem::path original = exe.toStdString();
        const std::filesystem::path copy = dir_.path("bin") / original.filename();
        std::filesystem::copy_file(original, copy,
                                   std::filesystem::copy_options::overwrite_existing);
        const std::string pkg = package('4', "unit.pr2");
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        // The copy's Qt plug-ins stay where the program was built (Windows
        // keeps them beside it).
        env.insert("QT_PLUGIN_PATH", QString::fromStdString(original.parent_path().string()));
        process.setProcessEnvironment(env);
        process.start(QString::fromStdString(copy.string()),
                      {QString::fromStdString("-F" + pkg), "-RRUN", "-Uexit", "-C9"});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 2);
        // Created beside the program with the defaults; the options are not saved.
        const std::string ini = dir_.read("bin/korvel.ini");
        QVERIFY2(ini.find("SerialPort=1") != std::string::npos, ini.c_str());
        QVERIFY(ini.find("AutoRun=0") != std::string::npos);
    }

    void helpOpensTheHelpFileOrSaysItIsNotThere() {
        {
            DialogAnswerer answerer;
            answerer.then(DialogAnswerer::Click("cmdOkOk"));
            auto window = makeWindow();
            QTest::keyClick(window.get(), Qt::Key_F1);
            QCOMPARE(answerer.texts, QStringList{"Help not present"});
            QVERIFY(opened_.empty());
        }
        {
            const std::string help = dir_.write("korvel.chm", std::string("help"));
            DialogAnswerer answerer;
            auto window = makeWindow(QString::fromStdString(help));
            window->ActionHelpExecute();
            QCOMPARE(opened_, std::vector<QString>{QString::fromStdString(help)});
            QVERIFY(answerer.texts.isEmpty());
        }
        {
            const std::string help = dir_.write("broken.chm", std::string("help"));
            DialogAnswerer answerer;
            answerer.then(DialogAnswerer::Click("cmdOkOk"));
            auto window = makeWindow(QString::fromStdString(help));
            window->ActionHelpExecute();
            QCOMPARE(answerer.texts, QStringList{"Help not present"});
        }
    }

    void exitEndsTheProcessWithFiveEvenDuringARun() {
        auto window = makeWindow();
        QTest::keyClick(window.get(), Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(exits_, std::vector<int>{5});

        settings().LastFiles = package('S');
        window->LoadPackage(settings().LastFiles);
        window->ActionProgramExecute();
        QVERIFY(ServeEventsUntil([&] { return bar(*window)->position() > 0; }));
        window->ActionExitExecute();
        QCOMPARE(exits_, (std::vector<int>{5, 5}));
        window->ActionProgramExecute();  // the fake exit returned: stop the run
        QVERIFY(waitForRunEnd(*window));
    }

    void closingDuringARunStopsItAndClosesWhenItHasEnded() {
        settings().LastFiles = package('S');
        auto window = makeWindow();
        window->ActionProgramExecute();
        QVERIFY(ServeEventsUntil([&] { return bar(*window)->position() > 0; }));
        QVERIFY(!window->close());  // refused for now
        QVERIFY(window->isVisible());
        QVERIFY(window->closeRequested());
        QVERIFY(ServeEventsUntil([&] { return !window->isVisible(); }));
        QVERIFY(!window->running());
        QCOMPARE(status(*window), QString("Aborted"));
    }

    void destroyingTheWindowDuringARunNeitherHangsNorCrashes() {
        settings().LastFiles = package('S');
        auto window = makeWindow();
        window->ActionProgramExecute();
        QVERIFY(ServeEventsUntil([&] { return bar(*window)->position() > 0; }));
        // The worker is between hand-overs or waiting in one; either way the
        // window must stop it and wait for it, without serving its steps.
        window.reset();
        QCoreApplication::processEvents();
        QVERIFY(RunLog().steps < kManySteps);
    }

    void programWithoutAPackageDoesNothing() {
        auto window = makeWindow();
        DialogAnswerer answerer;
        window->ActionProgramExecute();
        settings().LastFiles = "   ";
        window->ActionProgramExecute();
        QVERIFY(!window->running());
        QTest::qWait(20);
        QVERIFY(answerer.texts.isEmpty());
    }
};

QTEST_MAIN(TfrmMainTest)
#include "tfrm_main_test.moc"
