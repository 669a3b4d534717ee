#include "jobs/gang_run.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <memory>
#include <optional>

#include "jobs/queued_handover.h"
#include "procedures/package_kinds.h"
#include "serial/port_resolver.h"
#include "serial/serial_port.h"
#include "serial/virtual_serial_device.h"
#include "sim/lpc_board.h"
#include "sim/lpc_hex_writer.h"
#include "sim/lpc_parts.h"
#include "sim/package_writer.h"
#include "tests/support/dead_line_end.h"
#include "tests/support/recording_targets.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

using sim::LpcBoard;

constexpr std::size_t kBoards = 10;
constexpr int kFirstPort = 71;

// Bytes that differ from line to line, so that a misplaced line shows.
std::vector<std::uint8_t> Image(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    }
    return bytes;
}

// Ten boards on ports 71..80 of the resolver, each reporting into its own
// recording targets; the test's thread serves the hand-overs as a window
// would, until every run has ended.
struct Station {
    std::array<test::RecordingBar, kBoards> bars;
    std::array<test::RecordingStatus, kBoards> panels;
    std::vector<std::optional<RunRecord>> records{kBoards};
    int finishedCalls = 0;

    ~Station() {
        for (std::size_t i = 0; i < kBoards; ++i) {
            PortResolver::instance().unregisterDevice(kFirstPort + static_cast<int>(i));
        }
    }

    std::vector<GangBoard> Boards() {
        std::vector<GangBoard> boards;
        for (std::size_t i = 0; i < kBoards; ++i) {
            boards.push_back({"board" + std::to_string(i), kFirstPort + static_cast<int>(i), "",
                              &bars[i], &panels[i], nullptr});
        }
        return boards;
    }

    void Run(GangRun& gang, QueuedHandover& handover, const GangPackage& package,
             const std::function<void()>& whileRunning = {}) {
        gang.OnBoardFinished = [this](std::size_t i, const RunRecord& record,
                                      const GenericThread&) {
            ++finishedCalls;
            records.at(i) = record;
        };
        gang.Start(package, Boards());
        while (!gang.Finished()) {
            handover.Serve(std::chrono::milliseconds(5));
            if (whileRunning) {
                whileRunning();
            }
        }
    }
};

TEST(GangRunTest, TenLpcBoardsAtOnceEachEndAsTheirOwnBoardSays) {
    const std::vector<sim::HexSegment> image = {{0, Image(3000)}};
    const std::string hex = sim::WriteIntelHex(image);
    test::TempDir dir;
    const std::string file =
        dir.write("fw.pr2", sim::BuildPackage({{"LPC2138", "2.5", 'F', {hex.begin(), hex.end()}}}));
    TFilePro package;
    ASSERT_TRUE(package.LoadFromFile(file));

    const sim::LpcPart& part = *sim::FindLpcPart("LPC2138");
    constexpr std::size_t kRefusing = 3;
    constexpr std::size_t kMissing = 7;
    std::vector<std::unique_ptr<LpcBoard>> models;
    Station station;
    for (std::size_t i = 0; i < kBoards; ++i) {
        LpcBoard::Options options;
        if (i == kRefusing) {
            options.faults = {sim::LpcFault::RefuseErase};
        }
        models.push_back(std::make_unique<LpcBoard>(part, options));
        VirtualSerialDevice::Options line;
        if (i == kMissing) {
            line.openFailure = OpenFailure{2, "No such file or directory", false};
        }
        LpcBoard& model = *models.back();
        PortResolver::instance().registerDevice(kFirstPort + static_cast<int>(i), [&model, line] {
            return std::make_unique<VirtualSerialDevice>(model, line);
        });
    }
    {
        QueuedHandover handover;
        GangRun gang(handover, StandardDrivers());
        station.Run(gang, handover, {&package, file, "ab12", 38400, true, {}});
    }

    EXPECT_EQ(station.finishedCalls, static_cast<int>(kBoards));
    for (std::size_t i = 0; i < kBoards; ++i) {
        SCOPED_TRACE("board " + std::to_string(i));
        ASSERT_TRUE(station.records[i]);
        const RunRecord& record = *station.records[i];
        const RunResult expected = i == kRefusing  ? RunResult::ProgrammingError
                                   : i == kMissing ? RunResult::PortNotOpened
                                                   : RunResult::Success;
        EXPECT_EQ(record.result, expected);
        EXPECT_EQ(record.port, "board" + std::to_string(i));
        EXPECT_EQ(record.packagePath, file);
        EXPECT_EQ(record.packageSha256, "ab12");
        EXPECT_EQ(record.kind, 'F');
        EXPECT_EQ(record.entryName, "LPC2138");
        EXPECT_EQ(record.entryVersion, "2.5");
        // Verify was asked for: only a board whose flash was read back and
        // compared says so.
        EXPECT_EQ(record.verified, expected == RunResult::Success);
        EXPECT_GT(record.durationSeconds, 0.0);
        if (i == kMissing) {
            EXPECT_EQ(record.chip, "");
            EXPECT_EQ(record.message, "Unable to open port board7");
            EXPECT_EQ(models[i]->commands().size(), 0u);
            continue;
        }
        EXPECT_EQ(record.chip, "LPC2138 (500k)");
        EXPECT_EQ(record.partId, std::to_string(part.partId));
        EXPECT_EQ(record.status, station.panels[i].texts.back());
        if (i == kRefusing) {
            EXPECT_EQ(record.message, "Programming error");
        } else {
            EXPECT_EQ(record.message, "Programming succesful");
            EXPECT_EQ(models[i]->flash(), sim::ExpectedLpcFlash(image, part.flashBytes()));
            EXPECT_GT(station.bars[i].pos, 0) << "progress reaches the board's own bar";
        }
    }
}

// A procedure that runs until it is asked to stop.
struct WaitingProcedure : ProcContext {
    explicit WaitingProcedure(int port) : port(port, 115200, 0x11) {}
    SerialPort port;
};

std::atomic<int> waiting{0};
std::atomic<int> resetWired{0};

RunResult RunUntilStopped(GenericThread& thread) {
    if (thread.resetLines().driven) {
        ++resetWired;
    }
    WaitingProcedure proc(thread.portNumber());
    return thread.Drive(
        proc, proc.port, [&] { proc.RequestAbort(); },
        [&] {
            ++waiting;
            while (!proc.abortRequested) {
                proc.port.waitMs(1);
            }
            return RunResult::Aborted;
        });
}

TEST(GangRunTest, StopReachesEveryRunAndEachEndsAborted) {
    constexpr std::array kDrivers{DriverEntry{'F', "waits", RunUntilStopped}};
    test::TempDir dir;
    const std::string file = dir.write("fw.pr2", sim::BuildPackage({{"X", "1", 'F', {1, 2, 3}}}));
    TFilePro package;
    ASSERT_TRUE(package.LoadFromFile(file));

    std::array<test::DeadLineEnd, kBoards> lines;
    Station station;
    for (std::size_t i = 0; i < kBoards; ++i) {
        PortResolver::instance().registerDevice(
            kFirstPort + static_cast<int>(i),
            [&line = lines[i]] { return std::make_unique<VirtualSerialDevice>(line); });
    }
    waiting = 0;
    resetWired = 0;
    {
        QueuedHandover handover;
        GangRun gang(handover, kDrivers);
        bool stopped = false;
        // Every run is told how its board's reset is wired.
        const GangPackage wired{&package, file, "", 38400, false, ResetLines{.driven = true}};
        station.Run(gang, handover, wired, [&] {
            if (!stopped && waiting == static_cast<int>(kBoards)) {
                stopped = true;
                gang.Stop();
            }
        });
    }
    EXPECT_EQ(station.finishedCalls, static_cast<int>(kBoards));
    EXPECT_EQ(resetWired, static_cast<int>(kBoards));
    for (const auto& record : station.records) {
        ASSERT_TRUE(record);
        EXPECT_EQ(record->result, RunResult::Aborted);
        EXPECT_EQ(record->message, "Aborted");
    }
}

}  // namespace
}  // namespace korvel
