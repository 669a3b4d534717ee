#include "jobs/generic_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "jobs/queued_handover.h"
#include "jobs/run_messages.h"
#include "serial/port_resolver.h"
#include "serial/serial_error.h"
#include "serial/serial_port.h"
#include "serial/virtual_serial_device.h"
#include "sim/package_writer.h"
#include "tests/support/recording_targets.h"
#include "tests/support/scripted_line_end.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

constexpr int kPort = 41;
constexpr int kMissingPort = 42;
// Far beyond any run here; a run still going then is a fault, not a slow machine.
constexpr auto kRunDeadline = std::chrono::seconds(20);

// A procedure of the smallest kind: a context head and a port.
struct TestProcedure : ProcContext {
    TestProcedure(int port) : port(port, 115200, 0x11) {}
    SerialPort port;
};

std::atomic<int> proceduresAlive{0};
std::atomic<bool> procedureRunning{false};

struct CountedProcedure : TestProcedure {
    using TestProcedure::TestProcedure;
    CountedProcedure(int p) : TestProcedure(p) { ++proceduresAlive; }
    ~CountedProcedure() override { --proceduresAlive; }
};

Outcome RunReporting(GenericThread& t) {
    CountedProcedure proc(t.portNumber());
    return proc.Conclude(t.Drive(
        proc, proc.port, [&] { proc.RequestAbort(); },
        [&] {
            proc.SetProgressMax(10);
            proc.SetProgress(4);
            proc.StepProgress(3);
            proc.Status("Programming");
            proc.Status("Baud %d", t.baudRate());
            return RunResult::Success;
        }));
}

Outcome RunThrowing(GenericThread& t) {
    CountedProcedure proc(t.portNumber());
    return proc.Conclude(t.Drive(proc, proc.port, nullptr, [&]() -> RunResult {
        throw SerialError("read", 5, "I/O error");
    }));
}

// Names its failing step and what the board said, then the line fails as
// well: the step's reason is the one that counts.
Outcome RunRefusedThenThrowing(GenericThread& t) {
    CountedProcedure proc(t.portNumber());
    return proc.Conclude(t.Drive(proc, proc.port, nullptr, [&]() -> RunResult {
        proc.learned.chip = "LPC2138";
        proc.Fail(RunResult::ProgrammingError, "The board refused to erase sectors 0-9: BUSY (11)");
        throw SerialError("write", 5, "I/O error");
    }));
}

// Runs until it sees the abort request, then ends with the code of an abort.
Outcome RunUntilStopped(GenericThread& t) {
    CountedProcedure proc(t.portNumber());
    return proc.Conclude(t.Drive(
        proc, proc.port, [&] { proc.RequestAbort(); },
        [&] {
            procedureRunning = true;
            while (!proc.abortRequested) {
                proc.port.waitMs(1);
            }
            return RunResult::Aborted;
        }));
}

Outcome RunAsking(GenericThread& t) {
    CountedProcedure proc(t.portNumber());
    return proc.Conclude(t.Drive(proc, proc.port, nullptr, [&] {
        return proc.onAskYesNo("Erase all?") == DialogYes ? RunResult::Success
                                                          : RunResult::ProgrammingError;
    }));
}

// The test's Stop comes while the driver waits here.
std::atomic<bool> waitingForStop{false};
std::atomic<bool> stopSent{false};

void AwaitStop() {
    waitingForStop = true;
    const auto deadline = std::chrono::steady_clock::now() + kRunDeadline;
    while (!stopSent && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Reads its image before the procedure registers: the stop comes then.
Outcome RunStoppedWhileReading(GenericThread& t) {
    CountedProcedure proc(t.portNumber());
    AwaitStop();
    return proc.Conclude(t.Drive(
        proc, proc.port, [&] { proc.RequestAbort(); }, [&] { return RunResult::Success; }));
}

// Not registered for Stop: always runs to its end.
Outcome RunUnstoppable(GenericThread& t) {
    CountedProcedure proc(t.portNumber());
    return proc.Conclude(t.Drive(proc, proc.port, nullptr, [&] {
        AwaitStop();
        return RunResult::Success;
    }));
}

Outcome ThrowOutsideTheGuard(GenericThread&) {
    throw std::runtime_error("dispatch failure");
}

constexpr DriverEntry kTestDrivers[] = {
    {'A', "reporting", RunReporting},       {'B', "throwing", RunThrowing},
    {'C', "stoppable", RunUntilStopped},    {'D', "asking", RunAsking},
    {'E', "outside", ThrowOutsideTheGuard}, {'P', "reading", RunStoppedWhileReading},
    {'S', "unstoppable", RunUnstoppable},   {'R', "refused", RunRefusedThenThrowing},
};

struct YesDialogs : DialogService {
    int ShowOk(const std::string&) override { return DialogOk; }
    int ShowOkUntil(const std::string&, const DialogPoll&) override { return DialogClosedByPoll; }
    int ShowNo(const std::string&) override { return DialogNo; }
    int ShowNoUntil(const std::string&, const DialogPoll&) override { return DialogClosedByPoll; }
    int AskYesNo(const std::string& text) override {
        asked.push_back(text);
        uiThread = std::this_thread::get_id();
        return DialogYes;
    }
    int AskYesNoUntil(const std::string&, const DialogPoll&) override { return DialogYes; }
    int AskPassword(const std::string&, const std::string&) override { return DialogYes; }
    std::vector<std::string> asked;
    std::thread::id uiThread;
};

class GenericThreadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PortResolver::instance().registerDevice(kPort, [this] {
            ++devicesMade;
            return std::make_unique<VirtualSerialDevice>(line);
        });
        VirtualSerialDevice::Options refused;
        refused.openFailure = OpenFailure{2, "No such file or directory", false};
        PortResolver::instance().registerDevice(kMissingPort, [this, refused] {
            return std::make_unique<VirtualSerialDevice>(line, refused);
        });
    }
    void TearDown() override { PortResolver::instance().clear(); }

    // Runs one package kind to its end, serving the hand-over on this thread
    // as a user-interface thread would; `duringRun` runs on this thread too.
    std::vector<RunResult> run(char kind, int port,
                               const std::function<void(GenericThread&)>& duringRun = {}) {
        std::vector<RunResult> results;
        for (const Outcome& outcome : runOutcomes(kind, port, duringRun)) {
            results.push_back(outcome.result);
        }
        return results;
    }

    std::vector<Outcome> runOutcomes(char kind, int port,
                                     const std::function<void(GenericThread&)>& duringRun = {}) {
        package.Clear();  // Windows keeps writers out of a loaded package
        const auto file = dir.write("p.pr2", sim::BuildPackage({{"DEV", "1.0", kind, {1, 2, 3}}}));
        EXPECT_TRUE(package.LoadFromFile(file));
        std::vector<Outcome> results;
        {
            GenericThread thread(handover, &dialogs, kTestDrivers);
            thread.OnFinished = [&](const Outcome& outcome) {
                EXPECT_EQ(std::this_thread::get_id(), testThread);
                results.push_back(outcome);
            };
            thread.Setup(package, &bar, 19200, &panel, port);
            thread.Start();
            auto deadline = std::chrono::steady_clock::now() + kRunDeadline;
            while (results.empty()) {
                handover.Serve(std::chrono::milliseconds(5));
                if (duringRun)
                    duringRun(thread);
                if (std::chrono::steady_clock::now() > deadline) {
                    ADD_FAILURE() << "the run of kind '" << kind << "' did not end";
                    // Stop what can be stopped; the hand-over stays served.
                    thread.Stop();
                    deadline = std::chrono::steady_clock::time_point::max();
                }
            }
        }
        EXPECT_EQ(proceduresAlive, 0) << "the procedure outlived its run";
        return results;
    }

    test::TempDir dir;
    TFilePro package;
    QueuedHandover handover;
    YesDialogs dialogs;
    test::RecordingBar bar;
    test::RecordingStatus panel;
    test::ScriptedLineEnd line;
    int devicesMade = 0;
    std::thread::id testThread = std::this_thread::get_id();
};

TEST_F(GenericThreadTest, ReportsCrossToTheUserInterfaceThreadAndTheResultComesOnce) {
    EXPECT_EQ(run('A', kPort), std::vector<RunResult>{RunResult::Success});
    EXPECT_EQ(bar.maximum, 10);
    EXPECT_EQ(bar.pos, 7);
    EXPECT_EQ(panel.texts, (std::vector<std::string>{"Programming", "Baud 19200"}));
}

TEST_F(GenericThreadTest, StepAddsToTheBarAsItIsWhenTheStepRuns) {
    bar.pos = 100;  // the window moved the bar meanwhile
    run('A', kPort);
    EXPECT_EQ(bar.pos, 7) << "SetProgress(4) then StepProgress(3)";
}

TEST_F(GenericThreadTest, UnknownKindEndsWithTwoWithoutTouchingAPort) {
    for (char kind : {'4', '5', '7', 'F', '\0'}) {
        SCOPED_TRACE(kind);
        EXPECT_EQ(run(kind, kPort), std::vector<RunResult>{RunResult::DeviceNotSupported});
    }
    EXPECT_EQ(devicesMade, 0);
    EXPECT_TRUE(line.hostBytes.empty());
}

TEST_F(GenericThreadTest, PortThatDoesNotOpenEndsWithOneBeforeTheProcedureRuns) {
    EXPECT_EQ(run('A', kMissingPort), std::vector<RunResult>{RunResult::PortNotOpened});
    EXPECT_TRUE(panel.texts.empty()) << "the procedure must not run";
}

// The reasons only the worker knows, and the procedure's own reason before
// them; the outcome also carries what was learned and how long it took.
TEST_F(GenericThreadTest, EveryOutcomeSaysWhyTheProceduresReasonFirst) {
    const std::string kEscaped = "The run stopped on an error of the serial line or the system: ";
    struct Case {
        char kind;
        int port;
        RunResult result;
        std::string reason;  // a prefix of the reason
        std::string chip;
    };
    const Case cases[] = {
        {'A', kPort, RunResult::Success, "", ""},
        {'A', kMissingPort, RunResult::PortNotOpened, "virtual: No such file or directory", ""},
        {'B', kPort, RunResult::ProgrammingError, kEscaped + "read: I/O error (error 5)", ""},
        {'E', kPort, RunResult::ProgrammingError, kEscaped + "dispatch failure", ""},
        {'R', kPort, RunResult::ProgrammingError,
         "The board refused to erase sectors 0-9: BUSY (11)", "LPC2138"},
        {'4', kPort, RunResult::DeviceNotSupported,
         "No procedure of this version programs packages of kind '4'", ""},
        {'\x1b', kPort, RunResult::DeviceNotSupported,
         "No procedure of this version programs packages of kind '\\x1B'", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(1, c.kind) + " on port " + std::to_string(c.port));
        const auto outcomes = runOutcomes(c.kind, c.port);
        ASSERT_EQ(outcomes.size(), 1u);
        const Outcome& outcome = outcomes[0];
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(outcome.reason.substr(0, c.reason.size()), c.reason);
        EXPECT_EQ(outcome.reason.empty(), c.reason.empty()) << outcome.reason;
        EXPECT_EQ(outcome.learned.chip, c.chip);
        EXPECT_GT(outcome.durationSeconds, 0.0);
    }
}

TEST_F(GenericThreadTest, StopReachesTheRegisteredProcedureAndTheOutcomeSaysSo) {
    procedureRunning = false;
    bool stopped = false;
    const auto outcomes = runOutcomes('C', kPort, [&](GenericThread& t) {
        if (procedureRunning && !stopped) {
            stopped = true;
            t.Stop();
        }
    });
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].result, RunResult::Aborted);
    EXPECT_EQ(outcomes[0].reason, "Stopped on request before the run ended");
}

TEST_F(GenericThreadTest, AStopIsNeverLostAndAnUnstoppableRunSaysSo) {
    struct Case {
        char kind;
        RunResult result;
        bool stoppable;
        bool portOpened;
    };
    const Case cases[] = {
        {'P', RunResult::Aborted, true, false},
        {'S', RunResult::Success, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        waitingForStop = false;
        stopSent = false;
        devicesMade = 0;
        bool answer = !c.stoppable;
        const auto results = run(c.kind, kPort, [&](GenericThread& t) {
            if (waitingForStop && !stopSent) {
                answer = t.Stop();
                stopSent = true;
            }
        });
        EXPECT_EQ(results, std::vector<RunResult>{c.result});
        EXPECT_EQ(answer, c.stoppable);
        EXPECT_EQ(devicesMade > 0, c.portOpened);
    }
}

TEST_F(GenericThreadTest, QuestionsAreAnsweredOnTheUserInterfaceThread) {
    EXPECT_EQ(run('D', kPort), std::vector<RunResult>{RunResult::Success});
    EXPECT_EQ(dialogs.asked, std::vector<std::string>{"Erase all?"});
    EXPECT_EQ(dialogs.uiThread, testThread);
}

TEST(RunMessagesTest, TheWindowAndTheTerminalShowTheResultAndTheReasonEscaped) {
    struct Case {
        RunResult result;
        std::string reason;
        std::optional<std::string> message;  // the window's
        std::string line;                    // korvel-cli's
    };
    const Case cases[] = {
        {RunResult::Success, "", "Programming succesful", "Programming succesful"},
        {RunResult::ProgrammingError, "Unknown part id 305419896 (0x12345678)",
         "Programming error\r\nUnknown part id 305419896 (0x12345678)",
         "Programming error: Unknown part id 305419896 (0x12345678)"},
        {RunResult::PortNotOpened, "COM3: Access denied",
         "Unable to open port COM3\r\nCOM3: Access denied",
         "Unable to open port COM3: COM3: Access denied"},
        {RunResult::Aborted, "Stopped on request before the run ended", std::nullopt,
         "Aborted: Stopped on request before the run ended"},
        {RunResult::Aborted, "", std::nullopt, "Aborted"},
        // Whatever a reason quotes never reaches a terminal or a label raw.
        {RunResult::DeviceError, "got \x1b[2J\x07", "Device error\r\ngot \\x1B[2J\\x07",
         "Device error: got \\x1B[2J\\x07"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const Outcome outcome{c.result, c.reason, {}, 0};
        EXPECT_EQ(OutcomeMessage(outcome, "COM3"), c.message);
        EXPECT_EQ(OutcomeLine(outcome, "COM3"), c.line);
    }
}

TEST(RunMessagesTest, EveryResultHasTheWindowsMessage) {
    EXPECT_EQ(ResultMessage(RunResult::Success, "COM3"), "Programming succesful");
    EXPECT_EQ(ResultMessage(RunResult::PortNotOpened, "COM3"), "Unable to open port COM3");
    EXPECT_EQ(ResultMessage(RunResult::DeviceNotSupported, "COM3"),
              "Device not supported\r\nPlease check for Korvel updates");
    EXPECT_EQ(ResultMessage(RunResult::DeviceError, "COM3"), "Device error");
    EXPECT_EQ(ResultMessage(RunResult::ProgrammingError, "COM3"), "Programming error");
    EXPECT_EQ(ResultMessage(RunResult::Aborted, "COM3"), std::nullopt);
}

}  // namespace
}  // namespace korvel
