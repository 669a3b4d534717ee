// The board vanishing in the middle of a transfer, in real time over a pty:
// the simulator closes its end, the next read or write fails, and the run
// ends with ProgrammingError and the system's reason, never a crash or a hang.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "jobs/generic_thread.h"
#include "jobs/queued_handover.h"
#include "procedures/package_kinds.h"
#include "serial/port_resolver.h"
#include "sim/boot_monitor_model.h"
#include "sim/lpc_board.h"
#include "sim/lpc_hex_writer.h"
#include "sim/package_writer.h"
#include "sim/pcx_board.h"
#include "sim/pty_server.h"
#include "sim/resident_loader_model.h"
#include "tests/support/recording_targets.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPort = 62;
// Liveness only: a run whose line is gone ends at its next read or write.
constexpr auto kEndsWithin = std::chrono::seconds(10);

// A board model served on a pty by its own thread, until it vanishes.
class VanishingBoard {
  public:
    explicit VanishingBoard(std::unique_ptr<sim::BoardModel> model)
        : model_(std::move(model)),
          server_(std::make_unique<sim::PtyServer>(*model_, "", /*paced=*/false)),
          serving_([this] { server_->run(stop_); }) {
        PortResolver::instance().mapPath(kPort, server_->devicePath());
    }
    ~VanishingBoard() {
        vanish();
        PortResolver::instance().clear();
    }

    // Closes the board's end of the pty: to the host, the adapter is gone.
    void vanish() {
        if (serving_.joinable()) {
            stop_ = true;
            serving_.join();
            server_.reset();
        }
    }

  private:
    std::unique_ptr<sim::BoardModel> model_;
    std::unique_ptr<sim::PtyServer> server_;
    std::atomic<bool> stop_{false};
    std::thread serving_;
};

struct VanishRun {
    RunResult result = RunResult::Success;
    int finishedCalls = 0;
    bool vanished = false;
    Clock::duration endedAfter{};
    std::string reason;
};

// Runs the package against the board and makes the board vanish once the
// run shows `status` and its progress bar has reached `position`.
VanishRun RunUntilVanished(std::unique_ptr<sim::BoardModel> model,
                           const std::vector<sim::PackageEntry>& entries, const char* status,
                           int position) {
    VanishingBoard board(std::move(model));
    test::TempDir dir;
    TFilePro package;
    EXPECT_TRUE(package.LoadFromFile(dir.write("fw.pr2", sim::BuildPackage(entries))));
    QueuedHandover handover;
    test::RecordingBar bar;
    test::RecordingStatus panel;
    VanishRun run;
    std::optional<RunResult> result;
    Clock::time_point vanishedAt;
    {
        GenericThread thread(handover, nullptr, StandardDrivers());
        thread.OnFinished = [&](const Outcome& outcome) {
            ++run.finishedCalls;
            result = outcome.result;
            run.reason = outcome.reason;
        };
        thread.Setup(package, &bar, 38400, &panel, kPort);
        thread.Start();
        bool seen = false;
        while (!result) {
            handover.Serve(std::chrono::milliseconds(2));
            // Reports are posted: several may have run in this serve.
            seen = seen ||
                   std::find(panel.texts.begin(), panel.texts.end(), status) != panel.texts.end();
            if (!run.vanished && seen && bar.pos >= position) {
                board.vanish();
                run.vanished = true;
                vanishedAt = Clock::now();
            }
            if (run.vanished && Clock::now() - vanishedAt > kEndsWithin) {
                ADD_FAILURE() << "the run goes on after its board vanished";
                break;
            }
        }
        handover.Serve(std::chrono::milliseconds(20));
        run.endedAfter = Clock::now() - vanishedAt;
    }
    run.result = result.value_or(RunResult::Success);
    return run;
}

void ExpectVanishedRun(const VanishRun& run) {
    EXPECT_TRUE(run.vanished);
    EXPECT_EQ(run.result, RunResult::ProgrammingError);
    EXPECT_EQ(run.finishedCalls, 1);
    EXPECT_LT(run.endedAfter, kEndsWithin);
    // The outcome says what the system gave as the reason, for the user.
    EXPECT_EQ(run.reason.rfind("The run stopped on an error of the serial line or the system: ", 0),
              0u)
        << run.reason;
    EXPECT_NE(run.reason.find("Input/output error"), std::string::npos) << run.reason;
}

std::vector<std::uint8_t> Bytes(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
    }
    return bytes;
}

TEST(PtyVanishTest, IspBoardVanishingAfterTheFirstGroupOfDataLines) {
    const std::string hex = sim::WriteIntelHex({{0, Bytes(20000)}});
    // Progress moves with the first acknowledged checksum.
    ExpectVanishedRun(RunUntilVanished(
        std::make_unique<sim::LpcBoard>(*sim::FindLpcPart("LPC2138")),
        {{"LPC2138", "1.00", 'F', {hex.begin(), hex.end()}}}, "Programming....", 1));
}

TEST(PtyVanishTest, ResidentLoaderVanishingBetweenBlocks) {
    ExpectVanishedRun(RunUntilVanished(std::make_unique<sim::ResidentLoaderModel>(),
                                       {{"BOARD", "2.10", ')', Bytes(20000)}}, "Programming",
                                       2048));
}

TEST(PtyVanishTest, PcxVanishingBetweenBlocks) {
    ExpectVanishedRun(RunUntilVanished(std::make_unique<sim::PcxBoard>(),
                                       {{"PCX", "2.11", 'G', Bytes(20000)}}, "Programming", 2048));
}

TEST(PtyVanishTest, BootMonitorVanishingDuringTheRawTransfer) {
    ExpectVanishedRun(RunUntilVanished(std::make_unique<sim::BootMonitorModel>(),
                                       {{"RV4500", "2.10", '9', Bytes(20000)}}, "Programming",
                                       1000));
}

}  // namespace
}  // namespace korvel
