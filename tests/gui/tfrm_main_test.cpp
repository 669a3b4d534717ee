// The main window: its controls and states, loading packages, runs against a
// virtual board with the dialogs answered as a user would, stop, close, help,
// exit and the unattended mode; the result band and the run log, options,
// packages handed over or dropped, the station and keyboard-only use.
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <system_error>
#include <thread>
#include <variant>

#include "app/korvel_options.h"
#include "app/progress_bar_control.h"
#include "app/result_band.h"
#include "app/run_log_pane.h"
#include "app/single_instance.h"
#include "app/station_view.h"
#include "app/status_panel_control.h"
#include "app/tfrm_main.h"
#include "cli/station_program.h"
#include "jobs/exit_codes.h"
#include "jobs/generic_thread.h"
#include "jobs/run_messages.h"
#include "package/sha256.h"
#include "procedures/run_preparation.h"
#include "serial/port_resolver.h"
#include "serial/serial_port.h"
#include "serial/virtual_serial_device.h"
#include "settings/settings.h"
#include "sim/boot_monitor_model.h"
#include "sim/lpc_board.h"
#include "sim/lpc_hex_writer.h"
#include "sim/package_writer.h"
#include "sim/pcx_board.h"
#include "sim/pcx_board_command.h"
#include "sim/resident_loader_model.h"
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
    std::atomic<VerifyMode> verify{VerifyMode::None};
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
Outcome RunFakeProgramming(GenericThread& thread) {
    FakeProcedure proc(thread.portNumber(), thread.baudRate());
    return proc.Conclude(thread.Drive(
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
        }));
}

// Reports progress until the user stops it.
Outcome RunUntilStopped(GenericThread& thread) {
    FakeProcedure proc(thread.portNumber(), thread.baudRate());
    return proc.Conclude(thread.Drive(
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
        }));
}

// Its reason is in the outcome; the last status, empty, must not lose it.
Outcome RunDeviceError(GenericThread& thread) {
    FakeProcedure proc(thread.portNumber(), thread.baudRate());
    return proc.Conclude(thread.Drive(proc, proc.port, nullptr, [&] {
        proc.Status("Erase");
        proc.Status("%s", "");
        return proc.Fail(RunResult::DeviceError,
                         "The board refused to erase sectors 0-9: BUSY (11)");
    }));
}

Outcome RunThrowing(GenericThread& thread) {
    FakeProcedure proc(thread.portNumber(), thread.baudRate());
    return proc.Conclude(thread.Drive(proc, proc.port, nullptr, []() -> RunResult {
        throw std::runtime_error("lost the board");
    }));
}

constexpr DriverEntry kFakeDrivers[] = {
    {'F', "fake programming", RunFakeProgramming},
    {'\'', "fake programming", RunFakeProgramming},
    {'S', "stoppable", RunUntilStopped},
    {'9', "device error", RunDeviceError},
    {'G', "throwing", RunThrowing},
};

// Entry 0 of every test package: a HEX text that loads (its end record
// alone), since an LPC kind's image is checked before a run starts.
std::vector<std::uint8_t> TextBytes(std::string_view text) {
    return {text.begin(), text.end()};
}
const std::vector<std::uint8_t> kImage = TextBytes(":0100000000FF\r\n:00000001FF\r\n");

// ---- One cause in every front end: a named fault of a board model, run
// through the window, a single korvel-cli run and a station's record.

constexpr int kFaultPort = 44;

enum class Model { None, Lpc, Resident, Pcx, Monitor };

struct FaultCase {
    Model model;
    const char* fault;  // as korvel-sim --fault names it; "" for none
    char kind;
    RunResult result;
    std::string reason;  // exact; "" for none
    bool stopped = false;
};

std::vector<std::uint8_t> Pattern(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 29 + 3);
    }
    return bytes;
}

std::vector<sim::PackageEntry> FaultPackage(const FaultCase& c) {
    switch (c.model) {
        case Model::Lpc: {
            const std::vector<sim::HexSegment> image = {{0, Pattern(1000)}};
            const std::string hex = sim::WriteIntelHex(image);
            return {{"LPC2138", "1.00", c.kind, {hex.begin(), hex.end()}}};
        }
        case Model::Monitor:
            return {{"RV4500", "2.10", '9', Pattern(250)}, {"RV4500", "2.10", '9', Pattern(120)}};
        case Model::Pcx:
            return {{"PCX", "2.11", 'G', Pattern(3000)}};
        case Model::Resident:
            return {{"BOARD", "2.10", c.kind, Pattern(3000)}};
        case Model::None:
            break;
    }
    return {{"BOARD", "2.10", c.kind, kImage}};
}

// A board that holds the run at its first byte until the test opens the
// gate: a stop then reaches a procedure that is under way, whatever the
// speed of virtual time. The gate opens by itself after a while.
class GatedBoard : public VirtualLineEnd {
  public:
    explicit GatedBoard(std::unique_ptr<VirtualLineEnd> board) : board_(std::move(board)) {}
    void open() { open_ = true; }

    void hostByte(VirtualNs at, std::uint8_t byte) override {
        for (int waited = 0; !open_ && waited < 10000; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        board_->hostByte(at, byte);
    }
    void hostBreak(VirtualNs at, bool on) override { board_->hostBreak(at, on); }
    void hostLineSettings(VirtualNs at, const LineSettings& settings) override {
        board_->hostLineSettings(at, settings);
    }
    std::optional<VirtualNs> nextBoardByte() override { return board_->nextBoardByte(); }
    void takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) override {
        board_->takeBoardBytes(now, out);
    }

  private:
    std::unique_ptr<VirtualLineEnd> board_;
    std::atomic<bool> open_{false};
};

// A fresh board with the case's fault; null for a port that does not open.
std::unique_ptr<VirtualLineEnd> FaultyBoard(const FaultCase& c);

std::unique_ptr<VirtualLineEnd> Board(const FaultCase& c) {
    auto board = FaultyBoard(c);
    if (c.stopped) {
        return std::make_unique<GatedBoard>(std::move(board));
    }
    return board;
}

// Stops the run and lets its board go on.
void StopAndOpen(VirtualLineEnd& board) {
    if (auto* gated = dynamic_cast<GatedBoard*>(&board)) {
        gated->open();
    }
}

std::unique_ptr<VirtualLineEnd> FaultyBoard(const FaultCase& c) {
    std::string error;
    const std::string fault = c.fault;
    switch (c.model) {
        case Model::Lpc: {
            sim::LpcBoard::Options options;
            if (!fault.empty()) {
                options.faults = {*sim::ParseLpcFault(fault)};
            }
            return std::make_unique<sim::LpcBoard>(*sim::FindLpcPart("LPC2138"), options);
        }
        case Model::Resident: {
            sim::ResidentLoaderFaults faults;
            if (!fault.empty() && !sim::ParseResidentLoaderFault(fault, faults, error)) {
                qFatal("%s", error.c_str());
            }
            return std::make_unique<sim::ResidentLoaderModel>(faults);
        }
        case Model::Pcx: {
            sim::PcxBoardFaults faults;
            if (!fault.empty() && !sim::ParsePcxFaults({fault}, faults, error)) {
                qFatal("%s", error.c_str());
            }
            return std::make_unique<sim::PcxBoard>(faults);
        }
        case Model::Monitor: {
            sim::BootMonitorConfig config;
            if (!fault.empty() && !sim::AddBootMonitorFault(fault, config.faults, error)) {
                qFatal("%s", error.c_str());
            }
            return std::make_unique<sim::BootMonitorModel>(config);
        }
        case Model::None:
            break;
    }
    return std::make_unique<test::ScriptedLineEnd>();
}

// Every named fault of every board model, with the reason all three show,
// and the outcomes only the worker words.
std::vector<FaultCase> FaultCases() {
    const RunResult kFailed = RunResult::ProgrammingError;
    const RunResult kDevice = RunResult::DeviceError;
    const RunResult kOk = RunResult::Success;
    std::vector<FaultCase> cases = {
        {Model::None, "port that does not open", 'F', RunResult::PortNotOpened,
         std::string("virtual: No such file or directory. ") +
             korvel::test::ExpectedMissingDeviceHint()},
        {Model::None, "kind without a procedure", '5', RunResult::DeviceNotSupported,
         "No procedure of this version programs packages of kind '5'"},
        {Model::Lpc, "", 'F', RunResult::Aborted, "Stopped on request before the run ended", true},
        {Model::Lpc, "", 'F', kOk, ""},
        {Model::Lpc, "silent", 'F', kFailed,
         "No answer to the synchronisation: is the board in its boot loader (P0.14 low at reset)?"},
        {Model::Lpc, "no-echo", 'F', kFailed,
         "No answer to the confirmation of the synchronisation: check the cable and the board's "
         "power, then reset the board and try again"},
        {Model::Lpc, "unknown-id", 'F', kFailed, "Unknown part id 33685249 (0x0201FF01)"},
        {Model::Lpc, "refuse-unlock", 'F', kFailed,
         "The board refused to unlock its flash commands: INVALID_CODE (16)"},
        {Model::Lpc, "refuse-erase", 'F', kFailed,
         "The board refused to erase sector 0: BUSY (11)"},
        {Model::Lpc, "resend-always", 'F', kFailed,
         "Line errors in the data for 0x00000000, also after 3 more tries: check the cable or "
         "choose a lower baud rate"},
        {Model::Lpc, "echo-probe", 'F', kFailed,
         "The board answered the synchronisation with the rest of an earlier, stopped transfer: "
         "reset the board and try again"},
        {Model::Lpc, "sync-garbage", 'F', kFailed,
         "Unexpected answer to the synchronisation: \"~\\x86x\\xF8\""},
        {Model::Lpc, "go-error", 'F', kFailed,
         "The board refused to start the firmware: ADDR_ERROR (13)"},
        {Model::Resident, "silent", ')', kFailed,
         "No answer to the connect request: is the board powered, its cable connected and its "
         "resident loader running?"},
        {Model::Resident, "first-byte-delay=3100", ')', kFailed,
         "No answer to the connect request: is the board powered, its cable connected and its "
         "resident loader running?"},
        {Model::Resident, "reply-gap=300", ')', kFailed,
         "Unexpected answer to the connect request: \"\\x02\", no valid frame"},
        {Model::Resident, "bad-checksum", ')', kFailed,
         "Unexpected answer to the connect request: \"\\x02\\x10\\x00\\x01\\x00\\xEE\\x03\", no "
         "valid frame"},
        {Model::Resident, "bad-checksum=3", ')', kFailed,
         "Unexpected answer to the block write at 0x00018000: \"\\x02!\\x00\\x01\\x00\\xDD\\x03\", "
         "no valid frame"},
        {Model::Resident, "no-reply=2", ')', kFailed,
         "No answer to the erase of the sector at 0x00018000: check the board's power and cable, "
         "then start again"},
        {Model::Resident, "no-reply=5", ')', kFailed,
         "No answer to the block write at 0x00018800: check the board's power and cable, then "
         "start again"},
        {Model::Resident, "no-reply=2", '(', kFailed,
         "No answer to the prepare request: check the board's power and cable, then start again"},
        {Model::Resident, "bad-checksum=6", '(', kFailed,
         "Unexpected answer to the block write at offset 0x00000C00: "
         "\"\\x02\\x17\\x00\\x01\\x00\\xE7\\x03\", no valid frame"},
        {Model::Pcx, "silent", 'G', kFailed,
         "No answer to 100 connection pings: is the controller unit powered, its cable connected "
         "and its boot loader running?"},
        {Model::Pcx, "answer-after=100", 'G', kFailed,
         "No answer to 100 connection pings: is the controller unit powered, its cable connected "
         "and its boot loader running?"},
        {Model::Pcx, "refuse-write=0x8400", 'G', kFailed,
         "The board refused to write the block at 0x00008400: status 0x05"},
        {Model::Pcx, "other-loader", 'G', kFailed,
         "The board's boot loader is \"BOOTPLM200\", not \"BOOTPLM300\": this package cannot be "
         "programmed through it"},
        {Model::Pcx, "lowercase-id", 'G', kFailed,
         "The board's boot loader is \"bootplm300\", not \"BOOTPLM300\": this package cannot be "
         "programmed through it"},
        {Model::Monitor, "running", '9', kDevice,
         "No boot monitor banner within 10 s (last heard \"app: status ok\\x0D\\x0A\"): switch the "
         "board off, press Program, then switch it on"},
        {Model::Monitor, "refuse", '9', kDevice,
         "The board refused to take the image at 0x83fa0000: \"Error: raw load aborted after 120 "
         "bytes\\x0D\\x0A\""},
        {Model::Monitor, "refuse@0x83fa0000", '9', kDevice,
         "The board refused to take the image at 0x83fa0000: \"Error: raw load aborted after 120 "
         "bytes\\x0D\\x0A\""},
        {Model::Monitor, "mute-load@0x83fa0000", '9', kDevice,
         "No answer to the command \"load term raw 0x83fa0000\": check the cable, then switch the "
         "board off and start again"},
        {Model::Monitor, "ignore-break@0x83fa0000", '9', kDevice,
         "No answer to the BREAK that ends the transfer to 0x83fa0000: check that the adapter and "
         "its cable pass a BREAK"},
        {Model::Monitor, "mute-nsave", '9', kDevice,
         "No answer to the command \"nsave\": check the cable, then switch the board off and start "
         "again"},
        {Model::Monitor, "mute-aboot", '9', kDevice,
         "No answer to the command \"aboot flash raw 0x83fa0000\": check the cable, then switch "
         "the board off and start again"},
        {Model::Monitor, "mute-prompt", '9', kDevice,
         "No answer to the command \"prompt RV4500> 1\": check the cable, then switch the board "
         "off and start again"},
        {Model::Monitor, "mute-load@0x80000000", '9', kDevice,
         "No answer to the command \"load term raw 0x80000000\": check the cable, then switch the "
         "board off and start again"},
        {Model::Monitor, "refuse@0x80000000", '9', kDevice,
         "The board refused to take the image at 0x80000000: \"Error: raw load aborted after 250 "
         "bytes\\x0D\\x0A\""},
        {Model::Monitor, "ignore-break@0x80000000", '9', kDevice,
         "No answer to the BREAK that ends the transfer to 0x80000000: check that the adapter and "
         "its cable pass a BREAK"},
    };
    for (const char* name : {"resend-once", "drop-byte", "garble-echo", "go-silent"}) {
        cases.push_back({Model::Lpc, name, 'F', kOk, ""});
    }
    for (const char* name : {"busy-once", "refuse-erase-all", "no-reboot-reply"}) {
        cases.push_back({Model::Pcx, name, 'G', kOk, ""});
    }
    for (const char* name : {"build-date-only", "no-prompt", "no-done"}) {
        cases.push_back({Model::Monitor, name, '9', kOk, ""});
    }
    return cases;
}

std::string ReadAll(std::FILE* file) {
    std::string text;
    std::rewind(file);
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        text.push_back(static_cast<char>(c));
    }
    return text;
}

// What follows "<result>: " on korvel-cli's last line; empty when the line
// is the result's alone.
std::string ReasonOfLastLine(const std::string& output, const Outcome& result,
                             const std::string& port) {
    std::string text = output;
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    const std::string last = text.substr(text.rfind('\n') + 1);
    std::string shown = ResultMessage(result.result, port).value_or("Aborted");
    shown = shown.substr(shown.rfind('\n') + 1);
    if (last == shown) {
        return "";
    }
    return last.rfind(shown + ": ", 0) == 0 ? last.substr(shown.size() + 2) : "<" + last + ">";
}

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
        return makeWindow(hooks(helpFile));
    }
    std::unique_ptr<TfrmMain> makeWindow(app::MainWindowHooks hooks) {
        auto window = std::make_unique<TfrmMain>(std::move(hooks));
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
        settings().serialPort = kBoardPort;
        settings().AutoRun = false;
        settings().Verify = false;
        settings().unattendedExit.clear();
        settings().resetLines = "none";
        settings().Save();
        app::SaveKorvelOptions(settingsFile_, {});
        exits_.clear();
        opened_.clear();
        chosenFile_.clear();
        RunLog().steps = 0;
        RunLog().baudRate = 0;
        RunLog().pollAnswer = 0;
        RunLog().verify = VerifyMode::None;
        settings().expectSha256.clear();
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
        settings().serialPort = 3;
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
        app::KorvelOptions readBack;
        readBack.verifyMode = VerifyMode::Readback;
        app::SaveKorvelOptions(settingsFile_, readBack);
        auto window = makeWindow();
        control<QComboBox>(*window, "ComboBoxBaudRate")->setCurrentIndex(1);
        // The box is kept at once and asks the run for the options' verify.
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
            QVERIFY(RunLog().verify.load() == VerifyMode::Readback);
            QCOMPARE(status(*window), QString("Done"));
            QCOMPARE(bar(*window)->maximum(), int(kImage.size()));
            QCOMPARE(bar(*window)->position(), int(kImage.size()));
            // The board heard the synchronisation and then the image.
            std::vector<std::uint8_t> expected = kImage;
            expected.insert(expected.begin(), '?');
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

    // The real procedures against the simulated LPC2138: F3 to "Done", the
    // board id asked first (cancelled: no run) and the counter's serial
    // number in the flash at its address.
    void aRunWithTheIspProcedureProgramsTheSimulatedLpc2138() {
        const sim::LpcPart* part = sim::FindLpcPart("LPC2138");
        QVERIFY(part != nullptr);
        sim::LpcBoard lpc(*part);
        PortResolver::instance().registerDevice(
            kLpcPort, [&] { return std::make_unique<VirtualSerialDevice>(lpc); });
        settings().serialPort = kLpcPort;
        std::vector<std::uint8_t> firmware(3000);
        for (std::size_t i = 0; i < firmware.size(); ++i) {
            firmware[i] = static_cast<std::uint8_t>(i * 13 + 7);
        }
        const std::vector<sim::HexSegment> segments = {{0, firmware}};
        const std::string hex = sim::WriteIntelHex(segments);
        settings().LastFiles = dir_.write(
            "lpc.pr2", sim::BuildPackage({{"LPC2138", "2.00", 'F',
                                           std::vector<std::uint8_t>(hex.begin(), hex.end())}}));
        app::KorvelOptions numbered;
        numbered.askBoardId = true;
        numbered.writeSerial = true;
        numbered.serialPlace = "0x100:u32le";
        numbered.serialCounter = dir_.write("counter.txt", std::string("1001\n"));
        app::SaveKorvelOptions(settingsFile_, numbered);

        auto hooks = this->hooks();
        hooks.drivers = StandardDrivers();
        std::vector<std::optional<std::string>> ids = {std::nullopt, "A-17"};
        QStringList asked;
        hooks.askBoardId = [&](QWidget*, const QString& port) {
            asked << port;
            const auto id = ids.front();
            ids.erase(ids.begin());
            return id;
        };
        auto window = std::make_unique<TfrmMain>(hooks);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        const auto erased = lpc.flash();
        QTest::keyClick(window.get(), Qt::Key_F3);  // the id is not given
        QVERIFY(!window->running());
        QVERIFY(lpc.flash() == erased);
        QCOMPARE(dir_.read("counter.txt"), std::string("1001\n"));

        DialogAnswerer answerer;
        answerer.then(DialogAnswerer::Click("cmdOkOk"));
        QTest::keyClick(window.get(), Qt::Key_F3);
        QVERIFY(waitForRunEnd(*window));
        PortResolver::instance().unregisterDevice(kLpcPort);

        QCOMPARE(asked, (QStringList{"COM43", "COM43"}));
        QCOMPARE(answerer.texts, QStringList{"Programming succesful"});
        QCOMPARE(status(*window), QString("Done"));
        QCOMPARE(bar(*window)->position(), bar(*window)->maximum());
        std::vector<sim::HexSegment> numberedImage = segments;
        const std::uint8_t number[] = {0xE9, 0x03, 0x00, 0x00};  // 1001
        std::copy(std::begin(number), std::end(number), numberedImage[0].bytes.begin() + 0x100);
        QVERIFY(lpc.flash() == sim::ExpectedLpcFlash(
                                   numberedImage, static_cast<std::uint32_t>(lpc.flash().size())));
        QVERIFY(lpc.started().has_value());
        QCOMPARE(dir_.read("counter.txt"), std::string("1002\n"));
        const QString log = control<app::RunLogPane>(*window, "RunLog")->text();
        QVERIFY2(log.contains("Run: lpc.pr2 on COM43, board id A-17, serial number 1001"),
                 qPrintable(log));
        QVERIFY(control<app::ResultBand>(*window, "ResultBand")
                    ->detail()
                    .endsWith("; board id A-17, serial number 1001"));
    }

    // A station pinned to one package shows it as such, starts without
    // another and loads no other: the package loaded stays.
    void aPinnedPackageIsLockedAndLoadsNoOther() {
        const std::string pinned = package('F', "pinned.pr2");
        const std::string other = package('9', "other.pr2");
        const auto sha = [&](const std::string& name) {
            const std::string bytes = dir_.read(name);
            return Sha256Hex(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        };
        settings().expectSha256 = QString::fromStdString(sha("pinned.pr2")).toUpper().toStdString();
        settings().LastFiles = other;
        auto window = makeWindow();
        auto* label = control<QLabel>(*window, "LabelFileName");
        auto* mark = control<QLabel>(*window, "PinnedMark");
        auto* log = control<app::RunLogPane>(*window, "RunLog");
        QVERIFY(mark->isVisible());
        QVERIFY(mark->toolTip().contains(QString::fromStdString(settings().expectSha256)));
        QCOMPARE(window->package().entryCount(), 0);
        QVERIFY(!control<QAction>(*window, "ActionProgram")->isEnabled());
        QVERIFY(log->text().contains("other.pr2 is not the pinned package and was not loaded."));

        window->OpenPackage(QString::fromStdString(pinned));
        QCOMPARE(label->text(), QString("pinned.pr2"));
        DialogAnswerer answerer;
        answerer.then(DialogAnswerer::Click("cmdOkOk"));
        window->OpenPackage(QString::fromStdString(other));
        QCOMPARE(answerer.texts.size(), 1);
        QVERIFY2(answerer.texts[0].contains(QString::fromStdString(
                     "only the package with the SHA-256 " + sha("pinned.pr2") + "; this one has " +
                     sha("other.pr2") + ".\r\nLoad the package the station is set up for")),
                 qPrintable(answerer.texts[0]));
        QCOMPARE(label->text(), QString("pinned.pr2"));
        QCOMPARE(settings().LastFiles, pinned);
        QCOMPARE(window->ReceivePackage(QString::fromStdString(other)),
                 app::SingleInstance::Answer::NotLoaded);
        QCOMPARE(window->package().fileName(), pinned);
        QCOMPARE(answerer.texts.size(), 1);  // a second start is told, not the window's user
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
        // The result's message, and under it the outcome's reason; the
        // status line says "Error".
        QTest::newRow("kind outside the table")
            << '4' << kBoardPort
            << "Device not supported\r\nPlease check for Korvel updates\r\nNo procedure of this "
               "version programs packages of kind '4'"
            << "Error";
        QTest::newRow("port that does not open")
            << 'F' << kMissingPort
            << QString("Unable to open port COM42\r\nvirtual: No such file or directory. ") +
                   korvel::test::ExpectedMissingDeviceHint()
            << "Idle";
        QTest::newRow("device error")
            << '9' << kBoardPort
            << "Device error\r\nThe board refused to erase sectors 0-9: BUSY (11)"
            << "Error";
        QTest::newRow("exception in the procedure")
            << 'G' << kBoardPort
            << "Programming error\r\nThe run stopped on an error of the serial line or the "
               "system: lost the board"
            << "Error";
    }
    void resultsWithoutAProcedureShowTheirMessage() {
        QFETCH(char, kind);
        QFETCH(int, port);
        QFETCH(QString, message);
        QFETCH(QString, status);
        settings().LastFiles = package(kind);
        settings().serialPort = port;
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

    // For every named fault of every board model: the window's message,
    // korvel-cli's last line and the record's message carry the same cause.
    void everyFaultHasOneCauseInTheWindowOnTheTerminalAndInTheRecord() {
        auto hooks = this->hooks();
        hooks.drivers = StandardDrivers();
        for (const FaultCase& c : FaultCases()) {
            const std::string name = std::string(c.fault) + " (kind " + c.kind + ")";
            const std::string file = dir_.write("fault.pr2", sim::BuildPackage(FaultPackage(c)));
            std::unique_ptr<VirtualLineEnd> board;
            VirtualSerialDevice::Options line;
            if (c.result == RunResult::PortNotOpened) {
                line.openFailure = OpenFailure{2, "No such file or directory", false};
            }
            PortResolver::instance().registerDevice(
                kFaultPort, [&] { return std::make_unique<VirtualSerialDevice>(*board, line); });
            const std::string port = "COM" + std::to_string(kFaultPort);

            // The window.
            board = Board(c);
            settings().LastFiles = file;
            settings().serialPort = kFaultPort;
            QString message;
            {
                auto window = std::make_unique<TfrmMain>(hooks);
                window->show();
                DialogAnswerer answerer;
                answerer.then(DialogAnswerer::Click("cmdOkOk"));
                window->ActionProgramExecute();
                if (c.stopped) {
                    window->ActionProgramExecute();  // Stop
                    StopAndOpen(*board);
                }
                QVERIFY2(waitForRunEnd(*window), name.c_str());
                QVERIFY2(answerer.texts.size() <= 1, name.c_str());
                message = answerer.texts.isEmpty() ? QString() : answerer.texts[0];
            }

            // korvel-cli: a single run, then a station with its record.
            std::string lastLine;
            std::string recordMessage;
            for (const bool station : {false, true}) {
                board = Board(c);
                cli::CliOptions options;
                options.command = cli::CliOptions::Command::Program;
                options.package = file;
                options.ports = {port};
                const std::string recordFile = dir_.path("record.jsonl").string();
                std::filesystem::remove(recordFile);
                if (station) {
                    options.recordFile = recordFile;
                }
                TFilePro package;
                QVERIFY(package.LoadFromFile(file));
                const auto ports = cli::ResolvePorts(options, 1, stderr);
                QVERIFY(ports);
                RunChoices choices;
                choices.ports = *ports;
                choices.baudRate = 38400;
                const auto prepared = PrepareRun(package, choices, nullptr, [](bool) {});
                QVERIFY(std::holds_alternative<RunRequest>(prepared));
                std::FILE* out = std::tmpfile();
                QVERIFY(out != nullptr);
                const int code = cli::ProgramStation(options, std::get<RunRequest>(prepared),
                                                     {out, out}, [&, polls = 0]() mutable {
                                                         // Asked to stop at the first poll,
                                                         // the board goes on at the next.
                                                         if (c.stopped && polls++ > 0) {
                                                             StopAndOpen(*board);
                                                         }
                                                         return c.stopped;
                                                     });
                QCOMPARE(code, static_cast<int>(c.result));
                const Outcome shown{c.result, "", {}, 0};
                if (station) {
                    const auto record = nlohmann::json::parse(dir_.read("record.jsonl"));
                    recordMessage = record.at("message").get<std::string>();
                    QCOMPARE(record.at("result").get<int>(), static_cast<int>(c.result));
                } else {
                    lastLine = ReasonOfLastLine(ReadAll(out), shown, port);
                }
                std::fclose(out);
            }
            PortResolver::instance().unregisterDevice(kFaultPort);

            // The window shows no message for a stopped run, only its status.
            const std::string result = ResultMessage(c.result, port).value_or("");
            std::string windowReason = message.toStdString();
            QVERIFY2(windowReason.rfind(result, 0) == 0, (name + ": " + windowReason).c_str());
            windowReason =
                windowReason.size() > result.size() ? windowReason.substr(result.size() + 2) : "";
            if (c.stopped) {
                QVERIFY2(message.isEmpty(), name.c_str());
                windowReason = lastLine;
            }
            QVERIFY2(lastLine == recordMessage,
                     (name + ": terminal \"" + lastLine + "\", record \"" + recordMessage + "\"")
                         .c_str());
            QVERIFY2(windowReason == recordMessage,
                     (name + ": window \"" + windowReason + "\", record \"" + recordMessage + "\"")
                         .c_str());
            QCOMPARE(recordMessage, c.reason);
        }
    }

    void aStoredPortBeyondTheListSelectsNothingButIsStillUsed() {
        settings().serialPort = 256;
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
        QCOMPARE(settings().serialPort, 256);
        QVERIFY(settingsText().find("SerialPort=256") != std::string::npos);
        DialogAnswerer answerer;
        answerer.then(DialogAnswerer::Click("cmdOkOk"));
        window->ActionProgramExecute();
        QVERIFY(waitForRunEnd(*window));
        QCOMPARE(answerer.texts.size(), 1);
        QVERIFY(answerer.texts[0].startsWith("Unable to open port COM256\r\n"));
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
                                  "Device not supported\r\nPlease check for Korvel updates\r\n"
                                  "No procedure of this version programs packages of kind '7'"}));
        }
    }

    void aPortChangeIsSavedAndTheBaudRateIsNot() {
        settings().serialPort = 2;
        settings().Save();
        auto window = makeWindow();
        control<QComboBox>(*window, "ComboBoxCom")->setCurrentIndex(6);
        QCOMPARE(settings().serialPort, 7);
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
            bool askBoardId = false;
        };
        const Case cases[] = {
            {"the package does not load", dir_.path("missing.pr2").string(), true, false,
             kExitBadPackage},
            {"AutoRun is not set", package('9', "nine.pr2"), false, false, kExitUsage},
            {"the kind asks for the access code", package('7', "seven.pr2"), true, false,
             kExitAccessCode},
            {"the run's thread does not start", package('9', "nine.pr2"), true, true,
             static_cast<int>(RunResult::ProgrammingError)},
            {"the options ask for the board id", package('9', "nine.pr2"), true, false, kExitUsage,
             true},
        };
        for (const Case& c : cases) {
            settings().LastFiles = c.lastFiles;
            settings().AutoRun = c.autoRun;
            settings().unattendedExit = "1";
            app::KorvelOptions options;
            options.askBoardId = c.askBoardId;
            app::SaveKorvelOptions(settingsFile_, options);
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
        QVERIFY2(
            answerer.texts[0].startsWith("Programming error\r\nThe run could not start: no thread"),
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
            QCOMPARE(
                answerer.texts,
                QStringList{"Device error\r\nThe board refused to erase sectors 0-9: BUSY (11)"});
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
                         "The package changed on disk and no longer loads; nothing was "
                         "programmed:\r\n" +
                         file)});
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

    // Runs one after another: the band and the counts follow each, the log
    // keeps every status and ends each run with its outcome, and with the
    // message turned off in the options a run ends without a dialog.
    void theBandTheLogAndTheCountsFollowEveryRun() {
        settings().LastFiles = package('F');
        app::KorvelOptions lineWork;
        lineWork.messageDialog = false;
        lineWork.extraBaudRates = true;
        auto hooks = this->hooks();
        hooks.editOptions = [&](QWidget*, const app::KorvelOptions&) { return lineWork; };
        auto window = makeWindow(hooks);
        auto* band = control<app::ResultBand>(*window, "ResultBand");
        auto* log = control<app::RunLogPane>(*window, "RunLog");
        QCOMPARE(band->state(), QString("idle"));
        {
            DialogAnswerer answerer;
            answerer.then(DialogAnswerer::Leave())
                .then(DialogAnswerer::Click("cmdYesNoYes"))
                .then(DialogAnswerer::Click("cmdOkOk"));
            window->ActionProgramExecute();
            QCOMPARE(band->state(), QString("running"));
            QVERIFY(waitForRunEnd(*window));
        }
        QCOMPARE(band->state(), QString("passed"));
        QCOMPARE(band->headline(), QString("Programming succesful"));
        QVERIFY(band->detail().startsWith("in "));
        QStringList lines = log->text().split('\n');
        QVERIFY2(lines.first().endsWith("  Run: pkg.pr2 on COM41"), qPrintable(lines.first()));
        QVERIFY(lines.filter(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}    Connecting$"))
                    .size() == 1);
        QVERIFY(lines.filter("    Programming").size() == 1);
        QVERIFY2(lines.last().contains(
                     QRegularExpression("=> Programming succesful \\(\\d+\\.\\d s\\)$")),
                 qPrintable(lines.last()));

        // A board that fails: the band shows what the message shows.
        window->OpenPackage(QString::fromStdString(package('9', "refused.pr2")));
        {
            DialogAnswerer answerer;
            answerer.then(DialogAnswerer::Click("cmdOkOk"));
            window->ActionProgramExecute();
            QVERIFY(waitForRunEnd(*window));
            QCOMPARE(answerer.texts.size(), 1);
            QCOMPARE(band->state(), QString("failed"));
            QCOMPARE(band->detail(), QString("The board refused to erase sectors 0-9: BUSY (11)"));
            QCOMPARE(answerer.texts.first(), band->headline() + "\r\n" + band->detail());
        }
        QCOMPARE(band->passed(), 1);
        QCOMPARE(band->failed(), 1);
        QVERIFY(log->text().endsWith("=> " + band->headline() + ": " + band->detail()));

        // Line work: the options turn the message off and add the speeds.
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), Qt::Key_P, Qt::ControlModifier);
        auto* baud = control<QComboBox>(*window, "ComboBoxBaudRate");
        QCOMPARE(baud->count(), 6);
        QCOMPARE(baud->itemText(3), QString("57600"));
        QCOMPARE(baud->itemText(5), QString("230400"));
        QCOMPARE(baud->currentText(), QString("38400"));
        const std::string ini = settingsText();
        QVERIFY(ini.find("MessageDialog=0") != std::string::npos);
        QVERIFY(ini.find("SerialPort=41") != std::string::npos);
        {
            DialogAnswerer answerer;
            window->ActionProgramExecute();
            QVERIFY(waitForRunEnd(*window));
            QVERIFY(answerer.texts.isEmpty());
        }
        QCOMPARE(band->failed(), 2);
        QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(band->failed(), 0);
    }

    // A second start hands its package to this window; during a run the run
    // keeps its package and the window says so. A dropped .pr2 loads too,
    // and the recent packages menu lists them, newest first.
    void aSecondStartOrADropHandsThePackageOver() {
        settings().LastFiles = package('S', "first.pr2");
        auto window = makeWindow();
        const QString name = QString("korvel-test-%1").arg(QCoreApplication::applicationPid());
        app::SingleInstance instance(name);
        instance.onPackage = [&](const QString& path) { return window->ReceivePackage(path); };
        QVERIFY(instance.Listen());

        using Answer = app::SingleInstance::Answer;
        const auto handOver = [&](const std::string& path) {
            std::atomic<int> answer{-1};
            std::thread client([&] {
                answer = static_cast<int>(
                    app::SingleInstance::HandOver(name, QString::fromStdString(path)));
            });
            const bool answered = ServeEventsUntil([&] { return answer >= 0; });
            client.join();
            return answered ? static_cast<Answer>(answer.load()) : Answer::NoWindow;
        };
        auto* label = control<QLabel>(*window, "LabelFileName");
        const std::string secondPackage = package('F', "second.pr2");
        QCOMPARE(handOver(secondPackage), Answer::Loaded);
        QCOMPARE(label->text(), QString("second.pr2"));
        QCOMPARE(settings().LastFiles, secondPackage);
        QCOMPARE(handOver(dir_.write("broken.pr2", std::string("not a package"))),
                 Answer::NotLoaded);

        window->OpenPackage(QString::fromStdString(dir_.path("first.pr2").string()));
        window->ActionProgramExecute();
        QVERIFY(window->running());
        QCOMPARE(handOver(secondPackage), Answer::Busy);
        QVERIFY(window->running());
        QCOMPARE(label->text(), QString("first.pr2"));
        QVERIFY(control<app::RunLogPane>(*window, "RunLog")
                    ->text()
                    .contains("A run is going on: second.pr2 was not loaded."));
        window->ActionProgramExecute();  // stop
        QVERIFY(waitForRunEnd(*window));

        const auto drop = [&](const QString& path) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(path)});
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                                  Qt::NoModifier);
            QApplication::sendEvent(window.get(), &enter);
            QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                               Qt::NoModifier);
            QApplication::sendEvent(window.get(), &dropped);
            return enter.isAccepted();
        };
        QVERIFY(!drop(QString::fromStdString(dir_.write("notes.txt", std::string("x")))));
        QCOMPARE(label->text(), QString("first.pr2"));
        QVERIFY(drop(QString::fromStdString(package('F', "DROPPED.PR2"))));
        QVERIFY(ServeEventsUntil([&] { return label->text() == "DROPPED.PR2"; }));

        auto* recent = control<QMenu>(*window, "RecentMenu");
        QStringList listed;
        for (QAction* action : recent->actions()) {
            listed << QDir::fromNativeSeparators(action->text()).section('/', -1);
        }
        QCOMPARE(listed, (QStringList{"DROPPED.PR2", "first.pr2", "second.pr2"}));
        QCOMPARE(recent->actions().at(1)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_2));
        QTest::keyClick(window.get(), Qt::Key_3, Qt::ControlModifier);
        QCOMPARE(label->text(), QString("second.pr2"));
        QVERIFY(settingsText().find("Recent1=" + secondPackage) != std::string::npos);
    }

    // Three simulated LPC2138 boards at once, the second refusing the erase:
    // two flashes equal the image, each row and record line says how its
    // board ended, and the window's package stays put while they run.
    void theStationProgramsThreeBoardsAndRecordsEach() {
        const sim::LpcPart* part = sim::FindLpcPart("LPC2138");
        QVERIFY(part != nullptr);
        sim::LpcBoard::Options refusing;
        refusing.faults = {sim::LpcFault::RefuseErase};
        sim::LpcBoard one(*part), two(*part, refusing), three(*part);
        sim::LpcBoard* boards[] = {&one, &two, &three};
        for (int i = 0; i < 3; ++i) {
            PortResolver::instance().registerDevice(
                app::StationView::kFirstPortNumber + i,
                [board = boards[i]] { return std::make_unique<VirtualSerialDevice>(*board); });
        }
        std::vector<std::uint8_t> firmware(2000);
        for (std::size_t i = 0; i < firmware.size(); ++i) {
            firmware[i] = static_cast<std::uint8_t>(i * 7 + 3);
        }
        const std::vector<sim::HexSegment> segments = {{0, firmware}};
        const std::string hex = sim::WriteIntelHex(segments);
        settings().LastFiles = dir_.write(
            "lpc.pr2", sim::BuildPackage({{"LPC2138", "2.00", 'F',
                                           std::vector<std::uint8_t>(hex.begin(), hex.end())}}));
        app::KorvelOptions numbered;
        numbered.askBoardId = true;
        numbered.writeSerial = true;
        numbered.serialPlace = "0x100:u32be";
        numbered.serialCounter = dir_.write("counter.txt", std::string("500\n"));
        app::SaveKorvelOptions(settingsFile_, numbered);
        auto hooks = this->hooks();
        QStringList asked;
        hooks.askBoardId = [&](QWidget*, const QString& port) {
            asked << port;
            return std::optional<std::string>("S" + std::to_string(asked.size()));
        };
        hooks.station.drivers = StandardDrivers();
        hooks.station.listPorts = [] {
            return std::vector<app::AdapterPort>{
                {"/dev/ttyUSB0", "FT232R USB UART", "0403:6001", "A10"},
                {"/dev/ttyUSB1", "FT232R USB UART", "0403:6001", "A11"},
                {"/dev/ttyUSB2", "CP2102 USB to UART", "10c4:ea60", "0001"}};
        };
        auto window = makeWindow(hooks);
        QTest::keyClick(window.get(), Qt::Key_F4);
        app::StationView* station = window->station();
        QVERIFY(station != nullptr && station->isVisible());
        auto* ports = station->findChild<QListWidget*>("StationPorts");
        QCOMPARE(ports->count(), 3);
        QCOMPARE(ports->item(2)->text(),
                 QString("/dev/ttyUSB2  CP2102 USB to UART  10c4:ea60  #0001"));
        for (int i = 0; i < 3; ++i) {
            ports->item(i)->setCheckState(Qt::Checked);
        }
        const std::string record = dir_.path("station.jsonl").string();
        station->setRecordFile(QString::fromStdString(record));

        DialogAnswerer answerer;
        QCOMPARE(station->findChild<QAction*>("StationActionProgram")->shortcut(),
                 QKeySequence(Qt::Key_F3));
        QCOMPARE(station->findChild<QAction*>("StationActionStop")->shortcut(),
                 QKeySequence(Qt::Key_Escape));
        QTest::mouseClick(station->findChild<QPushButton*>("StationProgram"), Qt::LeftButton);
        QVERIFY(station->running());
        QVERIFY(!control<QAction>(*window, "ActionLoad")->isEnabled());
        QVERIFY(!control<QAction>(*window, "ActionProgram")->isEnabled());
        QVERIFY(ServeEventsUntil([&] { return !station->running(); }, 30000));
        for (int i = 0; i < 3; ++i) {
            PortResolver::instance().unregisterDevice(app::StationView::kFirstPortNumber + i);
        }
        QVERIFY(answerer.texts.isEmpty());
        QVERIFY(control<QAction>(*window, "ActionLoad")->isEnabled());
        QVERIFY(control<QAction>(*window, "ActionProgram")->isEnabled());

        auto* table = station->findChild<QTableWidget*>("StationBoards");
        QCOMPARE(table->rowCount(), 3);
        enum { kBoardId = 1, kSerial = 2, kResult = 5, kReason = 6 };
        QCOMPARE(table->item(0, kResult)->text(), QString("Programming succesful"));
        QCOMPARE(table->item(2, kResult)->text(), QString("Programming succesful"));
        QVERIFY(table->item(1, kResult)->text() != "Programming succesful");
        QCOMPARE(table->item(0, kReason)->text(), QString());
        QCOMPARE(station->summary(), QString("3 boards: 2 passed, 1 failed"));
        // Asked in port order; consecutive numbers, the failed board's spent.
        QCOMPARE(asked, (QStringList{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"}));
        QCOMPARE(table->item(2, kBoardId)->text(), QString("S3"));
        QCOMPARE(table->item(2, kSerial)->text(), QString("502"));
        QVERIFY(!table->isColumnHidden(kBoardId) && !table->isColumnHidden(kSerial));
        QCOMPARE(dir_.read("counter.txt"), std::string("503\n"));
        const auto flashWith = [&](std::uint8_t low) {
            std::vector<sim::HexSegment> image = segments;
            const std::uint8_t number[] = {0x00, 0x00, 0x01, low};  // 0x1F4 = 500, big-endian
            std::copy(std::begin(number), std::end(number), image[0].bytes.begin() + 0x100);
            return sim::ExpectedLpcFlash(image, static_cast<std::uint32_t>(one.flash().size()));
        };
        QVERIFY(one.flash() == flashWith(0xF4));
        QVERIFY(three.flash() == flashWith(0xF6));
        QVERIFY(two.flash() != flashWith(0xF5));

        // One JSON line per board, as korvel-cli --record writes them.
        const QStringList lines =
            QString::fromStdString(dir_.read("station.jsonl")).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        for (const char* port : {"/dev/ttyUSB0", "/dev/ttyUSB2"}) {
            QCOMPARE(lines.filter(QString("\"port\":\"%1\"").arg(port)).size(), 1);
            QVERIFY(lines.filter(QString("\"port\":\"%1\"").arg(port))
                        .first()
                        .contains("\"result\":0,\"result_name\":\"Success\""));
        }
        const QStringList failed = lines.filter("\"port\":\"/dev/ttyUSB1\"");
        QCOMPARE(failed.size(), 1);
        QVERIFY(!failed.first().contains("\"result\":0"));
        // The row's reason is the record's: the outcome's own words.
        const auto json = nlohmann::json::parse(failed.first().toStdString());
        QCOMPARE(table->item(1, kReason)->text(),
                 QString::fromStdString(json["message"].get<std::string>()));
        QCOMPARE(json["board_id"].get<std::string>(), std::string("S2"));
        QCOMPARE(json["serial"].get<int>(), 501);
        QVERIFY(failed.first().contains("\"name\":\"LPC2138\",\"version\":\"2.00\""));
        const std::string bytes = dir_.read("lpc.pr2");
        const std::string sha = Sha256Hex(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        QVERIFY(failed.first().contains(QString::fromStdString("\"package_sha256\":\"" + sha)));
        station->close();
    }

    // Keyboard and screen reader: every control that takes the focus has a
    // name and a description, Tab goes through them in the layout's order,
    // and every action has a key.
    void everyControlIsNamedAndTabFollowsTheLayout() {
        settings().LastFiles = package('F');
        auto window = makeWindow();
        control<app::RunLogPane>(*window, "RunLog")->setExpanded(true);

        QStringList focusable;
        QStringList unnamed;
        std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
            for (int i = 0; i < node->childCount(); ++i) {
                QAccessibleInterface* child = node->child(i);
                if (child == nullptr) {
                    continue;
                }
                auto* widget = qobject_cast<QWidget*>(child->object());
                if (widget != nullptr && widget->isVisible() &&
                    (widget->focusPolicy() & Qt::TabFocus) != 0) {
                    focusable << widget->objectName();
                    if (child->text(QAccessible::Name).isEmpty() ||
                        child->text(QAccessible::Description).isEmpty()) {
                        unnamed << widget->objectName();
                    }
                }
                walk(child);
            }
        };
        walk(QAccessible::queryAccessibleInterface(window.get()));
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
        // The station's controls too.
        window->ActionStationExecute();
        walk(QAccessible::queryAccessibleInterface(window->station()));
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
        QVERIFY(focusable.contains("StationProgram") && focusable.contains("StationPorts"));
        window->station()->close();
        focusable.removeIf([](const QString& name) { return name.startsWith("Station"); });

        const QStringList layout = {
            "cmdProgram", "cmdLoad",     "cmdHelp",          "cmdExit",        "cmdStation",
            "cmdOptions", "ComboBoxCom", "ComboBoxBaudRate", "CheckBoxVerify", "ResetCounters",
            "RunLogFold", "RunLogText",  "RunLogCopy",       "RunLogSave"};
        QStringList walked = focusable;
        walked.sort();
        QStringList sorted = layout;
        sorted.sort();
        QCOMPARE(walked, sorted);
        control<QToolButton>(*window, "cmdProgram")->setFocus(Qt::TabFocusReason);
        QStringList tabbed;
        for (int i = 0; i < layout.size(); ++i) {
            tabbed << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(tabbed, layout);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("cmdProgram"));

        for (const char* name : {"ActionProgram", "ActionLoad", "ActionHelp", "ActionExit",
                                 "ActionStation", "ActionOptions", "ActionResetCounts",
                                 "ActionRunLog", "ActionCopyLog", "ActionSaveLog"}) {
            QVERIFY2(!control<QAction>(*window, name)->shortcut().isEmpty(), name);
        }
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
