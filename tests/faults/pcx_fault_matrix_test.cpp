// Every fault of the PCX model, and random loss and corruption, against
// whole kind "G" runs through the worker thread and the driver, in virtual
// time: the result, the texts of the failing phase and its reason, a closed
// port and a destroyed procedure before the one OnFinished, and no more time
// than the link's time-outs and retries allow.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/pcx_board.h"
#include "sim/pcx_board_command.h"
#include "tests/faults/babbling_board.h"
#include "tests/faults/driver_run.h"
#include "tests/faults/noisy_line.h"

namespace korvel {
namespace {

using sim::PcxBoard;
using test::DriverRun;
using test::ExpectCleanEnd;
using test::kMsNs;
using Texts = std::vector<std::string>;

constexpr std::uint32_t kImageStart = 32768;
// A whole run of the 3000-byte image at 57600 baud: a dozen short frames,
// three 1034-byte blocks, the 200 ms after the speed change and the 1000 ms
// after the final restart.
constexpr VirtualNs kLineTimeNs = 3000 * kMsNs;
// One connection try: a baud-rate set and one ping given 100 ms (and the
// 2 ms steps of the wait), at most 100 tries.
constexpr VirtualNs kConnectTryNs = 110 * kMsNs;
constexpr int kConnectTries = 100;
// A request: three attempts of 3500 ms.
constexpr VirtualNs kRequestNs = 3 * 3500 * kMsNs;

std::vector<std::uint8_t> Image() {
    std::vector<std::uint8_t> image(3000);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i % 251);
    }
    return image;
}

DriverRun Program(VirtualLineEnd& line) {
    return test::RunThroughDriver(line, {{"PCX", "2.11", 'G', Image()}});
}

bool Programmed(const PcxBoard& board) {
    const std::vector<std::uint8_t> image = Image();
    return std::equal(image.begin(), image.end(), board.flash().begin() + kImageStart);
}

// What the run says when no connection ping is answered.
constexpr const char* kSilentUnit =
    "No answer to 100 connection pings: is the controller unit powered, its cable connected and "
    "its boot loader running?";

struct FaultRow {
    const char* fault;
    RunResult result;
    Texts lastTexts;
    VirtualNs atLeastNs;
    VirtualNs atMostNs;
    const char* reason;
};

TEST(PcxFaultMatrixTest, EveryFaultEndsAsItsPhaseSaysWithinTheLinksTimeOuts) {
    const VirtualNs connectFails = kConnectTries * kConnectTryNs + kLineTimeNs;
    // clang-format off
    const std::vector<FaultRow> rows = {
        {"", RunResult::Success, {"Programming", "Reboot"}, 0, kLineTimeNs, ""},
        // A hundred unanswered pings, then the one short restart request.
        {"silent", RunResult::ProgrammingError, {"Connecting", "Reboot"},
         kConnectTries * 100 * kMsNs, connectFails, kSilentUnit},
        {"answer-after=100", RunResult::ProgrammingError, {"Connecting", "Reboot"},
         kConnectTries * 100 * kMsNs, connectFails, kSilentUnit},
        {"answer-after=30", RunResult::Success, {"Programming", "Reboot"},
         30 * 100 * kMsNs, 30 * kConnectTryNs + kLineTimeNs, ""},
        // The first ping meets a busy unit: the next try connects.
        {"busy-once", RunResult::Success, {"Programming", "Reboot"}, 0, kLineTimeNs, ""},
        // Erase-all refused: sector by sector instead.
        {"refuse-erase-all", RunResult::Success, {"Programming", "Reboot"}, 0, kLineTimeNs, ""},
        {"refuse-write=0x8400", RunResult::ProgrammingError, {"Programming", "Reboot"},
         0, kLineTimeNs, "The board refused to write the block at 0x00008400: status 0x05"},
        {"other-loader", RunResult::ProgrammingError, {"Read Info", "Reboot"}, 0, kLineTimeNs, "The board's boot loader is \"BOOTPLM200\", not \"BOOTPLM300\": this package cannot be programmed through it"},
        {"lowercase-id", RunResult::ProgrammingError, {"Read Info", "Reboot"}, 0, kLineTimeNs, "The board's boot loader is \"bootplm300\", not \"BOOTPLM300\": this package cannot be programmed through it"},
        // The final restart's three unanswered attempts cost time, not success.
        {"no-reboot-reply", RunResult::Success, {"Programming", "Reboot"},
         kRequestNs, kRequestNs + kLineTimeNs, ""},
    };
    // clang-format on
    for (const FaultRow& row : rows) {
        SCOPED_TRACE(row.fault);
        sim::PcxBoardFaults faults;
        std::string error;
        if (*row.fault != '\0') {
            ASSERT_TRUE(sim::ParsePcxFaults({row.fault}, faults, error)) << error;
        }
        PcxBoard board(faults);
        const DriverRun run = Program(board);
        EXPECT_EQ(run.result, row.result);
        EXPECT_EQ(run.lastTexts(2), row.lastTexts);
        EXPECT_EQ(run.reason, row.reason);
        ExpectCleanEnd(run);
        EXPECT_GE(run.virtualNs, row.atLeastNs);
        EXPECT_LE(run.virtualNs, row.atMostNs);
        EXPECT_EQ(Programmed(board), row.result == RunResult::Success);
        EXPECT_EQ(run.learned.bytesWritten == Image().size(), row.result == RunResult::Success);
        if (row.result == RunResult::Success) {
            EXPECT_EQ(run.learned.bootCode, "BOOTPLM300");
        }
    }
}

TEST(PcxFaultMatrixTest, RandomLossAndCorruptionNeverEndInAFalseSuccessNorHang) {
    // Every request may run all its attempts: connection, nine requests and
    // the restart, plus the line time.
    const VirtualNs budget = kConnectTries * kConnectTryNs + 10 * kRequestNs + kLineTimeNs;
    int successes = 0;
    int failures = 0;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        // About 3500 bytes cross the line in a run; lost frames are retried.
        const test::Noise noise{seed, 15 * (seed % 3), 12 * (seed % 4)};
        SCOPED_TRACE("seed " + std::to_string(seed));
        PcxBoard board;
        test::NoisyLine line(board, noise);
        const DriverRun run = Program(line);
        ExpectCleanEnd(run);
        EXPECT_LE(run.virtualNs, budget);
        EXPECT_EQ(run.reason.empty(), run.result == RunResult::Success) << run.reason;
        if (run.result == RunResult::Success) {
            ++successes;
            EXPECT_TRUE(Programmed(board));
        } else {
            ++failures;
            EXPECT_EQ(run.result, RunResult::ProgrammingError);
            EXPECT_EQ(run.lastText(), "Reboot");
            EXPECT_GT(line.lost() + line.corrupted(), 0);
        }
    }
    EXPECT_GT(successes, 0);
    EXPECT_GT(failures, 0);
}

TEST(PcxFaultMatrixTest, ABoardThatKeepsTalkingEndsLikeASilentOne) {
    test::BabblingBoard board;
    const DriverRun run = Program(board);
    EXPECT_EQ(run.result, RunResult::ProgrammingError);
    EXPECT_EQ(run.lastTexts(2), (Texts{"Connecting", "Reboot"}));
    EXPECT_EQ(run.reason, kSilentUnit);
    ExpectCleanEnd(run);
    EXPECT_LE(run.virtualNs, kConnectTries * kConnectTryNs + kLineTimeNs);
}

}  // namespace
}  // namespace korvel
