// Every named fault of the LPC boot-loader model, and random loss and
// corruption on the line, against whole ISP runs through the worker thread
// and the driver, in virtual time: the result and texts of the failing step,
// a port that was closed and a procedure that was destroyed before the one
// OnFinished, and no more time than the failing step's time-out allows.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/lpc_board.h"
#include "sim/lpc_hex_writer.h"
#include "tests/faults/babbling_board.h"
#include "tests/faults/driver_run.h"
#include "tests/faults/noisy_line.h"

namespace korvel {
namespace {

using sim::LpcBoard;
using sim::LpcFault;
using test::DriverRun;
using test::ExpectCleanEnd;
using test::kMsNs;
using Texts = std::vector<std::string>;

constexpr VirtualNs kSliceNs = 2000 * kMsNs;
// Every byte a whole run of the test image puts on the line at 38400 baud,
// both ways, takes about 3 s; a failing run never takes more line time.
constexpr VirtualNs kLineTimeNs = 5000 * kMsNs;

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(n);
    for (auto& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    return bytes;
}

const std::vector<sim::HexSegment>& Image() {
    static const std::vector<sim::HexSegment> image = {{0, Pattern(1000, 7)}};
    return image;
}

DriverRun Program(VirtualLineEnd& line) {
    const std::string hex = sim::WriteIntelHex(Image());
    return test::RunThroughDriver(line, {{"LPC2138", "1.00", 'F', {hex.begin(), hex.end()}}});
}

struct FaultRow {
    LpcFault fault;
    const char* name;
    RunResult result;
    Texts lastTexts;
    // The time-out the failing step waits out, in slices (a lower bound too).
    int timeoutSlices;
    // "RESEND" answers the chip gave.
    int resends;
};

TEST(IspFaultMatrixTest, EveryNamedFaultEndsAsItsStepSaysWithinItsTimeOut) {
    // clang-format off
    const std::vector<FaultRow> rows = {
        // Six probes, each given two slices: twelve slices of silence.
        {LpcFault::Silent, "silent", RunResult::ProgrammingError,
         {"Attempting baud sync", "", ": ERROR: Unable to sync to baud rate.", ""}, 12, 0},
        {LpcFault::NoEcho, "no-echo", RunResult::ProgrammingError,
         {"", ": No response to complete baud sync", ""}, 3, 0},
        {LpcFault::UnknownId, "unknown-id", RunResult::ProgrammingError,
         {"Baud sync sucessful", "", ": Unknown chip ID: \"33685249\" (0x0201FF01).", ""}, 0, 0},
        {LpcFault::RefuseUnlock, "refuse-unlock", RunResult::ProgrammingError,
         {"", ": wrong response unlock: 16", ""}, 0, 0},
        {LpcFault::RefuseErase, "refuse-erase", RunResult::ProgrammingError,
         {"Error", "", ": Unable to erase flash", ""}, 0, 0},
        // A group the chip asks for again goes again, up to three times.
        {LpcFault::ResendOnce, "resend-once", RunResult::Success,
         {"loading jump code", "jumping now!"}, 0, 1},
        {LpcFault::ResendAlways, "resend-always", RunResult::ProgrammingError,
         {"", ": bad checksum, also after the group was sent 3 times more", ""}, 0, 4},
        // A lost character: the chip's sum differs and it asks for the group
        // again; no time-out runs.
        {LpcFault::DropByte, "drop-byte", RunResult::Success,
         {"loading jump code", "jumping now!"}, 0, 1},
        // A changed echo alone: the chip's "OK" to the sum is what counts.
        {LpcFault::GarbleEcho, "garble-echo", RunResult::Success,
         {"loading jump code", "jumping now!"}, 0, 0},
        {LpcFault::EchoProbe, "echo-probe", RunResult::ProgrammingError,
         {"", ": Unable to complete baud sync, 1", ""}, 0, 0},
        {LpcFault::SyncGarbage, "sync-garbage", RunResult::ProgrammingError,
         {"", ": Unexpected response to sync, \"~\x86x\xF8", ""}, 0, 0},
        // Left inside a RAM write by a stopped run: the probe and the
        // confirmation are echoed as data, and nothing answers them.
        {LpcFault::StoppedTransfer, "stopped-transfer", RunResult::ProgrammingError,
         {"", ": No response to complete baud sync", ""}, 3, 0},
        // Silence after "G" is the started firmware: success, four slices on.
        {LpcFault::GoSilent, "go-silent", RunResult::Success,
         {"loading jump code", "jumping now!"}, 4, 0},
        {LpcFault::GoError, "go-error", RunResult::ProgrammingError,
         {"jumping now!", "response = 13", "", ": couldn't run program", ""}, 0, 0},
    };
    // clang-format on
    for (const FaultRow& row : rows) {
        SCOPED_TRACE(row.name);
        LpcBoard::Options options;
        options.faults = {row.fault};
        LpcBoard board(*sim::FindLpcPart("LPC2138"), options);
        const DriverRun run = Program(board);
        EXPECT_EQ(run.result, row.result);
        EXPECT_EQ(run.lastTexts(row.lastTexts.size()), row.lastTexts);
        ExpectCleanEnd(run);
        EXPECT_EQ(board.resends(), row.resends);
        if (run.result == RunResult::Success) {
            EXPECT_EQ(board.flash(), sim::ExpectedLpcFlash(Image(), board.part().flashBytes()));
        }
        EXPECT_GE(run.virtualNs, row.timeoutSlices * kSliceNs);
        EXPECT_LE(run.virtualNs, row.timeoutSlices * kSliceNs + kLineTimeNs);
    }
}

TEST(IspFaultMatrixTest, WithoutAFaultTheRunSucceedsWithinItsLineTime) {
    LpcBoard board(*sim::FindLpcPart("LPC2138"));
    const DriverRun run = Program(board);
    EXPECT_EQ(run.result, RunResult::Success);
    ExpectCleanEnd(run);
    EXPECT_EQ(board.flash(), sim::ExpectedLpcFlash(Image(), board.part().flashBytes()));
    EXPECT_LE(run.virtualNs, kLineTimeNs);
}

TEST(IspFaultMatrixTest, RandomLossAndCorruptionNeverEndInAFalseSuccessNorHang) {
    // The longest single time-out of the dialogue is the erase's 25 slices;
    // the first fault ends a run, so no run may take longer than that.
    const VirtualNs budget = 25 * kSliceNs + kLineTimeNs;
    int successes = 0;
    int failures = 0;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        // About 12000 characters cross the line in a run, most of them data
        // lines, whose faults a group sent again repairs: one fault in 2000
        // characters still breaks some runs.
        const test::Noise noise{seed, 20 * (seed % 3), 30 * (seed % 4)};
        SCOPED_TRACE("seed " + std::to_string(seed));
        LpcBoard board(*sim::FindLpcPart("LPC2138"));
        test::NoisyLine line(board, noise);
        const DriverRun run = Program(line);
        ExpectCleanEnd(run);
        EXPECT_LE(run.virtualNs, budget);
        if (run.result == RunResult::Success) {
            ++successes;
            // Every group's sum was acknowledged.
            EXPECT_EQ(board.flash(), sim::ExpectedLpcFlash(Image(), board.part().flashBytes()));
        } else {
            ++failures;
            EXPECT_EQ(run.result, RunResult::ProgrammingError);
            // Failures end through the cancel texts, the last one empty.
            EXPECT_EQ(run.lastText(), "");
            EXPECT_GT(line.lost() + line.corrupted(), 0);
        }
    }
    // The noise is strong enough to break some runs and weak enough to spare some.
    EXPECT_GT(successes, 0);
    EXPECT_GT(failures, 0);
}

TEST(IspFaultMatrixTest, ABoardThatKeepsTalkingEndsTheRunAtTheFirstLineItSends) {
    test::BabblingBoard board("app: status ok\r\n", 38400);
    const DriverRun run = Program(board);
    EXPECT_EQ(run.result, RunResult::ProgrammingError);
    ASSERT_GE(run.texts.size(), 2u);
    EXPECT_EQ(run.texts[run.texts.size() - 2].rfind(": Unexpected response to sync, ", 0), 0u)
        << run.texts[run.texts.size() - 2];
    ExpectCleanEnd(run);
    EXPECT_LE(run.virtualNs, kSliceNs);
}

}  // namespace
}  // namespace korvel
