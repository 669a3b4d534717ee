// Every fault of the boot-monitor model, and random loss and corruption of
// what the monitor sends, against whole kind "9" runs through the worker
// thread and the driver, in virtual time: DeviceError at the failure points
// and Success where a fault is no failure, the status the procedure last
// showed and its reason, a closed port and a destroyed procedure before the
// one OnFinished, and no more time than the dialogue's waits add up to.
#include <gtest/gtest.h>

#include "sim/boot_monitor_model.h"
#include "tests/faults/babbling_board.h"
#include "tests/faults/driver_run.h"
#include "tests/faults/noisy_line.h"

namespace korvel {
namespace {

using sim::BootMonitorModel;
using test::DriverRun;
using test::ExpectCleanEnd;
using test::kMsNs;

constexpr std::uint32_t kMainAddress = 0x80000000;
constexpr std::uint32_t kSecondAddress = 0x83fa0000;

// The waits of a whole dialogue at their longest: the banner window and one
// line wait (15 s), stopping the automatic start (about 1 s and 2 s), four
// prompt waits (20 s), the flash stage (echo 2 s, line 5 s, the BREAK and its
// pauses 0.8 s, line 5 s, three commands of 1 s, 2 s and 5 s, 1 s), the main
// image (echo 2 s, line 5 s, the BREAK and its pauses 2.2 s, line 5 s), the
// start (1 s, 5 s) and the closing report (two waits of 5 s), with a margin
// for the 2 ms steps of every pause.
constexpr VirtualNs kWholeDialogueNs = 110'000 * kMsNs;
constexpr VirtualNs kBannerNs = 15'000 * kMsNs;
constexpr VirtualNs kPromptWaitsNs = 20'000 * kMsNs;

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 29);
    }
    return bytes;
}

const std::vector<std::uint8_t>& Main() {
    static const auto image = Bytes(250, 1);
    return image;
}
const std::vector<std::uint8_t>& Second() {
    static const auto image = Bytes(120, 2);
    return image;
}

DriverRun Program(VirtualLineEnd& line) {
    return test::RunThroughDriver(
        line, {{"RV4500", "2.10", '9', Main()}, {"RV4500", "2.10", '9', Second()}});
}

bool LoadedAndStarted(const BootMonitorModel& board) {
    const auto& images = board.images();
    return board.started() && images.count(kMainAddress) != 0 &&
           images.at(kMainAddress) == Main() && images.count(kSecondAddress) != 0 &&
           images.at(kSecondAddress) == Second();
}

// What the run says about a board whose application runs instead of its monitor.
constexpr const char* kAppRunning =
    "No boot monitor banner within 10 s (last heard \"app: status ok\\x0D\\x0A\"): switch the "
    "board off, press Program, then switch it on";
// What the run says when the monitor goes quiet after a command.
std::string NoAnswerTo(const std::string& command) {
    return "No answer to the command \"" + command +
           "\": check the cable, then switch the board off and start again";
}

struct FaultRow {
    const char* fault;
    RunResult result;
    const char* lastText;
    VirtualNs atLeastNs;
    VirtualNs atMostNs;
    std::string reason;
};

TEST(MonitorFaultMatrixTest, EveryFaultEndsAtItsFailurePointOrIsNoFailureAtAll) {
    const std::vector<FaultRow> rows = {
        {"", RunResult::Success, "Done", 0, kWholeDialogueNs, ""},
        // No banner phrase in the 10 s window (plus the line wait under way).
        {"running", RunResult::DeviceError, "Power ON", 10'000 * kMsNs, kBannerNs + 100 * kMsNs,
         kAppRunning},
        {"build-date-only", RunResult::Success, "Done", 0, kWholeDialogueNs, ""},
        // A missing prompt costs the four prompt waits, nothing more.
        {"no-prompt", RunResult::Success, "Done", kPromptWaitsNs, kWholeDialogueNs, ""},
        {"no-done", RunResult::Success, "Done", 0, kWholeDialogueNs, ""},
        // Failures in the flash stage leave "Connected" showing.
        {"refuse", RunResult::DeviceError, "Connected", 0, kWholeDialogueNs,
         "The board refused to take the image at 0x83fa0000: \"Error: raw load aborted after 120 "
         "bytes\\x0D\\x0A\""},
        {"refuse@0x83fa0000", RunResult::DeviceError, "Connected", 0, kWholeDialogueNs,
         "The board refused to take the image at 0x83fa0000: \"Error: raw load aborted after 120 "
         "bytes\\x0D\\x0A\""},
        {"mute-load@0x83fa0000", RunResult::DeviceError, "Connected", 0, kWholeDialogueNs,
         NoAnswerTo("load term raw 0x83fa0000")},
        {"ignore-break@0x83fa0000", RunResult::DeviceError, "Connected", 0, kWholeDialogueNs,
         "No answer to the BREAK that ends the transfer to 0x83fa0000: check that the adapter and "
         "its cable pass a BREAK"},
        {"mute-nsave", RunResult::DeviceError, "Connected", 0, kWholeDialogueNs,
         NoAnswerTo("nsave")},
        {"mute-aboot", RunResult::DeviceError, "Connected", 0, kWholeDialogueNs,
         NoAnswerTo("aboot flash raw 0x83fa0000")},
        {"mute-prompt", RunResult::DeviceError, "Connected", 0, kWholeDialogueNs,
         NoAnswerTo("prompt RV4500> 1")},
        // The main load command is answered before "Programming" is shown.
        {"mute-load@0x80000000", RunResult::DeviceError, "Connected", 0, kWholeDialogueNs,
         NoAnswerTo("load term raw 0x80000000")},
        {"refuse@0x80000000", RunResult::DeviceError, "Programming", 0, kWholeDialogueNs,
         "The board refused to take the image at 0x80000000: \"Error: raw load aborted after 250 "
         "bytes\\x0D\\x0A\""},
        {"ignore-break@0x80000000", RunResult::DeviceError, "Programming", 0, kWholeDialogueNs,
         "No answer to the BREAK that ends the transfer to 0x80000000: check that the adapter and "
         "its cable pass a BREAK"},
    };
    for (const FaultRow& row : rows) {
        SCOPED_TRACE(row.fault);
        sim::BootMonitorConfig config;
        std::string error;
        if (*row.fault != '\0') {
            ASSERT_TRUE(sim::AddBootMonitorFault(row.fault, config.faults, error)) << error;
        }
        BootMonitorModel board(config);
        const DriverRun run = Program(board);
        EXPECT_EQ(run.result, row.result);
        EXPECT_EQ(run.lastText(), row.lastText);
        EXPECT_EQ(run.reason, row.reason);
        ExpectCleanEnd(run);
        EXPECT_GE(run.virtualNs, row.atLeastNs);
        EXPECT_LE(run.virtualNs, row.atMostNs);
        EXPECT_EQ(LoadedAndStarted(board), row.result == RunResult::Success);
        EXPECT_EQ(run.learned.bytesWritten == Main().size() + Second().size(),
                  row.result == RunResult::Success);
    }
}

TEST(MonitorFaultMatrixTest, RandomLossAndCorruptionOfTheMonitorsTextNeverEndInAFalseSuccess) {
    // The raw transfers carry no check of their own, so only what the
    // monitor sends is disturbed here: its banner, echoes, prompts and verdicts.
    int successes = 0;
    int failures = 0;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        // About 700 characters come from the monitor in a run.
        test::Noise noise{seed, 60 * (seed % 3), 80 * (seed % 4)};
        noise.hostToBoard = false;
        SCOPED_TRACE("seed " + std::to_string(seed));
        BootMonitorModel board;
        test::NoisyLine line(board, noise);
        const DriverRun run = Program(line);
        ExpectCleanEnd(run);
        EXPECT_LE(run.virtualNs, kWholeDialogueNs);
        EXPECT_EQ(run.reason.empty(), run.result == RunResult::Success) << run.reason;
        if (run.result == RunResult::Success) {
            ++successes;
            EXPECT_TRUE(LoadedAndStarted(board));
            EXPECT_EQ(run.lastText(), "Done");
        } else {
            ++failures;
            EXPECT_EQ(run.result, RunResult::DeviceError);
            EXPECT_GT(line.lost() + line.corrupted(), 0);
        }
    }
    EXPECT_GT(successes, 0);
    EXPECT_GT(failures, 0);
}

TEST(MonitorFaultMatrixTest, ABoardThatKeepsTalkingWithoutItsBannerIsADeviceError) {
    test::BabblingBoard board("app: status ok\r\n", BootMonitorModel::kConsoleBaud);
    const DriverRun run = Program(board);
    EXPECT_EQ(run.result, RunResult::DeviceError);
    EXPECT_EQ(run.lastText(), "Power ON");
    EXPECT_EQ(run.reason, kAppRunning);
    ExpectCleanEnd(run);
    EXPECT_GE(run.virtualNs, 10'000 * kMsNs);
    EXPECT_LE(run.virtualNs, kBannerNs + 100 * kMsNs);
}

}  // namespace
}  // namespace korvel
