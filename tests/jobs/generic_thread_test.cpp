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

RunResult RunReporting(GenericThread& t) {
    CountedProcedure proc(t.portNumber());
    return t.Drive(
        proc, proc.port, [&] { proc.RequestAbort(); },
        [&] {
            proc.SetProgressMax(10);
            proc.SetProgress(4);
            proc.StepProgress(3);
            proc.Status("Programming");
            proc.Status("Baud %d", t.baudRate());
            return RunResult::Success;
        });
}

RunResult RunThrowing(GenericThread& t) {
    CountedProcedure proc(t.portNumber());
    return t.Drive(proc, proc.port, nullptr,
                   [&]() -> RunResult { throw SerialError("read", 5, "I/O error"); });
}

// Runs until it sees the abort request, then ends with the code of an abort.
RunResult RunUntilStopped(GenericThread& t) {
    CountedProcedure proc(t.portNumber());
    return t.Drive(
        proc, proc.port, [&] { proc.RequestAbort(); },
        [&] {
            procedureRunning = true;
            while (!proc.abortRequested) {
                proc.port.waitMs(1);
            }
            return RunResult::Aborted;
        });
}

RunResult RunAsking(GenericThread& t) {
    CountedProcedure proc(t.portNumber());
    return t.Drive(proc, proc.port, nullptr, [&] {
        return proc.onAskYesNo("Erase all?") == DialogYes ? RunResult::Success
                                                          : RunResult::ProgrammingError;
    });
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
RunResult RunStoppedWhileReading(GenericThread& t) {
    CountedProcedure proc(t.portNumber());
    AwaitStop();
    return t.Drive(
        proc, proc.port, [&] { proc.RequestAbort(); }, [&] { return RunResult::Success; });
}

// Not registered for Stop: always runs to its end.
RunResult RunUnstoppable(GenericThread& t) {
    CountedProcedure proc(t.portNumber());
    return t.Drive(proc, proc.port, nullptr, [&] {
        AwaitStop();
        return RunResult::Success;
    });
}

RunResult ThrowOutsideTheGuard(GenericThread&) {
    throw std::runtime_error("dispatch failure");
}

constexpr DriverEntry kTestDrivers[] = {
    {'A', "reporting", RunReporting},       {'B', "throwing", RunThrowing},
    {'C', "stoppable", RunUntilStopped},    {'D', "asking", RunAsking},
    {'E', "outside", ThrowOutsideTheGuard}, {'P', "reading", RunStoppedWhileReading},
    {'S', "unstoppable", RunUnstoppable},
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
        package.Clear();  // Windows keeps writers out of a loaded package
        const auto file = dir.write("p.pr2", sim::BuildPackage({{"DEV", "1.0", kind, {1, 2, 3}}}));
        EXPECT_TRUE(package.LoadFromFile(file));
        std::vector<RunResult> results;
        {
            GenericThread thread(handover, &dialogs, kTestDrivers);
            thread.OnFinished = [&](RunResult r) {
                EXPECT_EQ(std::this_thread::get_id(), testThread);
                results.push_back(r);
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
            portFailure = thread.portFailure();
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
    OpenFailure portFailure;
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

TEST_F(GenericThreadTest, PortThatDoesNotOpenEndsWithOneAndTheReason) {
    EXPECT_EQ(run('A', kMissingPort), std::vector<RunResult>{RunResult::PortNotOpened});
    EXPECT_TRUE(panel.texts.empty()) << "the procedure must not run";
    EXPECT_EQ(portFailure.code, 2);
}

TEST_F(GenericThreadTest, ExceptionsBecomeProgrammingError) {
    EXPECT_EQ(run('B', kPort), std::vector<RunResult>{RunResult::ProgrammingError});
    EXPECT_EQ(run('E', kPort), std::vector<RunResult>{RunResult::ProgrammingError});
}

TEST_F(GenericThreadTest, StopReachesTheRegisteredProcedure) {
    procedureRunning = false;
    bool stopped = false;
    const auto results = run('C', kPort, [&](GenericThread& t) {
        if (procedureRunning && !stopped) {
            stopped = true;
            t.Stop();
        }
    });
    EXPECT_EQ(results, std::vector<RunResult>{RunResult::Aborted});
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
