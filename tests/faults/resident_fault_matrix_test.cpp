// Every fault of the resident-loader model, and random loss and corruption,
// against whole runs of both variants through the worker thread and the
// driver, in virtual time: the result, the status of the failing phase and
// its reason, a closed port and a destroyed procedure before the one
// OnFinished, and no more time than the reply time-outs allow.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/resident_loader_model.h"
#include "tests/faults/babbling_board.h"
#include "tests/faults/driver_run.h"
#include "tests/faults/noisy_line.h"

namespace korvel {
namespace {

using sim::ResidentLoaderFaults;
using sim::ResidentLoaderModel;
using test::DriverRun;
using test::ExpectCleanEnd;
using test::kMsNs;

// Whole runs of the 3000-byte image: connect, erase or prepare, three or four
// 1034-byte blocks at 57600 baud and a restart, each phase followed by its
// 100 ms pause, take less than this on the line.
constexpr VirtualNs kLineTimeNs = 3000 * kMsNs;
// A reply's first byte may take 3000 ms; a later one 200 ms after the one before.
constexpr VirtualNs kFirstByteNs = 3000 * kMsNs;
constexpr VirtualNs kGapNs = 200 * kMsNs;

std::vector<std::uint8_t> Image() {
    std::vector<std::uint8_t> image(3000);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    return image;
}

DriverRun Program(VirtualLineEnd& line, char kind) {
    sim::PackageEntry entry{"BOARD", "2.10", kind, Image()};
    entry.trailer[0] = 0x12;
    entry.trailer[1] = 0x34;
    return test::RunThroughDriver(line, {entry});
}

// The image (and, for the relative variant, the two bytes after it) in flash.
bool Programmed(const ResidentLoaderModel& board, char kind) {
    std::vector<std::uint8_t> expected = Image();
    if (kind == '(') {
        expected.push_back(0x12);
        expected.push_back(0x34);
    }
    const auto area = board.imageArea();
    return std::equal(expected.begin(), expected.end(), area.begin());
}

// What the run says when the loader is silent at its first request.
constexpr const char* kSilentConnect =
    "No answer to the connect request: is the board powered, its cable connected and its "
    "resident loader running?";

struct FaultRow {
    const char* fault;
    char kind;
    RunResult result;
    const char* lastText;
    VirtualNs atLeastNs;
    VirtualNs atMostNs;
    const char* reason;
};

TEST(ResidentFaultMatrixTest, EveryFaultEndsInThePhaseItHitsWithinTheReplyTimeOuts) {
    // Variant B sends connect, erase, three blocks and restart (6 requests);
    // variant A connect, prepare, four blocks and restart (7).
    // The 3000 ms run from the end of the write, which returns while a block
    // (1034 bytes, about 180 ms) is still on the line: a loader that starts
    // every reply 2700 ms after a request's last byte is in time.
    const std::vector<FaultRow> rows = {
        {"", ')', RunResult::Success, "Reboot", 0, kLineTimeNs, ""},
        {"", '(', RunResult::Success, "Reboot", 0, kLineTimeNs, ""},
        {"silent", ')', RunResult::ProgrammingError, "Connecting", kFirstByteNs,
         kFirstByteNs + kLineTimeNs, kSilentConnect},
        {"first-byte-delay=2700", ')', RunResult::Success, "Reboot", 6 * 2700 * kMsNs,
         6 * kFirstByteNs + kLineTimeNs, ""},
        {"first-byte-delay=3100", ')', RunResult::ProgrammingError, "Connecting", kFirstByteNs,
         kFirstByteNs + kLineTimeNs, kSilentConnect},
        {"reply-gap=150", ')', RunResult::Success, "Reboot", 6 * 150 * kMsNs,
         6 * kGapNs + kLineTimeNs, ""},
        {"reply-gap=300", ')', RunResult::ProgrammingError, "Connecting", kGapNs,
         kGapNs + kLineTimeNs,
         "Unexpected answer to the connect request: \"\\x02\", no valid frame"},
        // A reply with a bad sum is no reply: the wait ends 200 ms after its last byte.
        {"bad-checksum", ')', RunResult::ProgrammingError, "Connecting", kGapNs,
         kGapNs + kLineTimeNs,
         "Unexpected answer to the connect request: \"\\x02\\x10\\x00\\x01\\x00\\xEE\\x03\", no "
         "valid frame"},
        {"bad-checksum=3", ')', RunResult::ProgrammingError, "Programming", kGapNs,
         kGapNs + kLineTimeNs,
         "Unexpected answer to the block write at 0x00018000: \"\\x02!\\x00\\x01\\x00\\xDD\\x03\", "
         "no valid frame"},
        {"no-reply=2", ')', RunResult::ProgrammingError, "Connected", kFirstByteNs,
         kFirstByteNs + kLineTimeNs,
         "No answer to the erase of the sector at 0x00018000: check the board's power and cable, "
         "then start again"},
        {"no-reply=5", ')', RunResult::ProgrammingError, "Programming", kFirstByteNs,
         kFirstByteNs + kLineTimeNs,
         "No answer to the block write at 0x00018800: check the board's power and cable, then "
         "start again"},
        // The restart's outcome does not matter.
        {"no-reply=6", ')', RunResult::Success, "Reboot", kFirstByteNs, kFirstByteNs + kLineTimeNs,
         ""},
        {"no-reply=2", '(', RunResult::ProgrammingError, "Connected", kFirstByteNs,
         kFirstByteNs + kLineTimeNs,
         "No answer to the prepare request: check the board's power and cable, then start again"},
        {"bad-checksum=6", '(', RunResult::ProgrammingError, "Programming", kGapNs,
         kGapNs + kLineTimeNs,
         "Unexpected answer to the block write at offset 0x00000C00: "
         "\"\\x02\\x17\\x00\\x01\\x00\\xE7\\x03\", no valid frame"},
        {"no-reply=7", '(', RunResult::Success, "Reboot", kFirstByteNs, kFirstByteNs + kLineTimeNs,
         ""},
    };
    for (const FaultRow& row : rows) {
        SCOPED_TRACE(std::string(row.fault) + " kind " + row.kind);
        ResidentLoaderFaults faults;
        std::string error;
        if (*row.fault != '\0') {
            ASSERT_TRUE(sim::ParseResidentLoaderFault(row.fault, faults, error)) << error;
        }
        ResidentLoaderModel board(faults);
        const DriverRun run = Program(board, row.kind);
        EXPECT_EQ(run.result, row.result);
        EXPECT_EQ(run.lastText(), row.lastText);
        EXPECT_EQ(run.reason, row.reason);
        ExpectCleanEnd(run);
        EXPECT_GE(run.virtualNs, row.atLeastNs);
        EXPECT_LE(run.virtualNs, row.atMostNs);
        // By offset the loader is given the two bytes after the image too.
        const std::uint64_t handed = Image().size() + (row.kind == '(' ? 2 : 0);
        if (row.result == RunResult::Success) {
            EXPECT_TRUE(Programmed(board, row.kind));
            EXPECT_EQ(run.learned.bytesWritten, handed);
        } else {
            EXPECT_EQ(board.restarts(), 0) << "no restart after a failed request";
        }
    }
}

TEST(ResidentFaultMatrixTest, RandomLossAndCorruptionNeverEndInAFalseSuccessNorHang) {
    // The first request without a proper reply ends a run.
    const VirtualNs budget = kFirstByteNs + kGapNs + kLineTimeNs;
    int successes = 0;
    int failures = 0;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        // About 4300 bytes cross the line in a run.
        const test::Noise noise{seed, 8 * (seed % 3), 6 * (seed % 4)};
        const char kind = seed % 2 == 0 ? '(' : ')';
        SCOPED_TRACE("seed " + std::to_string(seed));
        ResidentLoaderModel board;
        test::NoisyLine line(board, noise);
        const DriverRun run = Program(line, kind);
        ExpectCleanEnd(run);
        EXPECT_LE(run.virtualNs, budget);
        EXPECT_EQ(run.reason.empty(), run.result == RunResult::Success) << run.reason;
        if (run.result == RunResult::Success) {
            ++successes;
            EXPECT_TRUE(Programmed(board, kind));
        } else {
            ++failures;
            EXPECT_EQ(run.result, RunResult::ProgrammingError);
            EXPECT_GT(line.lost() + line.corrupted(), 0);
        }
    }
    EXPECT_GT(successes, 0);
    EXPECT_GT(failures, 0);
}

TEST(ResidentFaultMatrixTest, ABoardThatKeepsTalkingCannotHoldTheRun) {
    // Every byte restarts the 200 ms between-bytes wait; a board whose running
    // application prints without end never completes a frame. The wait ends
    // after the first-byte time and the line time of the longest frame.
    // The longest frame: 65535 payload bytes and 6 more, 10 bits each at 57600 baud.
    constexpr VirtualNs kLongestFrameNs = 65541ull * 10 * 1'000'000'000 / 57600;
    const VirtualNs limit = kFirstByteNs + kLongestFrameNs;
    const std::string babbles[] = {"app: status ok\r\n",
                                   std::string("\x02\x10\x01\x00noise\x03", 10)};
    for (const std::string& babble : babbles) {
        SCOPED_TRACE(babble);
        test::BabblingBoard board(babble);
        const DriverRun run = Program(board, ')');
        EXPECT_EQ(run.result, RunResult::ProgrammingError);
        EXPECT_EQ(run.lastText(), "Connecting");
        // The reason shows the first of what was heard, cut short.
        EXPECT_THAT(run.reason,
                    testing::StartsWith("Unexpected answer to the connect request: \""));
        EXPECT_THAT(run.reason, testing::EndsWith("\"..., no valid frame"));
        ExpectCleanEnd(run);
        EXPECT_GE(run.virtualNs, limit);
        EXPECT_LE(run.virtualNs, limit + kLineTimeNs);
    }
}

}  // namespace
}  // namespace korvel
