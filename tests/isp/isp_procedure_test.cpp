// The ISP dialogue against scripted boards: exact wire text, the
// synchronisation and identification paths, time-outs counted in slices.
#include "procedures/isp/isp_procedure.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/isp/isp_harness.h"
#include "tests/support/dead_line_end.h"

namespace korvel {
namespace {

using test::IspHarness;
using test::kNsPerMs;
using Texts = std::vector<std::string>;

constexpr VirtualNs kSliceNs = 2000 * kNsPerMs;
// 16 bytes at address 0: one block to write, once the dialogue gets there.
constexpr const char* kSyncErrorText = ": ERROR: Unable to sync to baud rate.";
constexpr const char* kCheckBoard =
    "check the cable and the board's power, then reset the board and try again";
constexpr const char* kStale =
    "The board answered the synchronisation with the rest of an earlier, stopped transfer: "
    "reset the board and try again";
const std::string kImage =
    ":10000000000102030405060708090A0B0C0D0E0F78\r\n"
    ":00000001FF\r\n";

// A board that answers host lines from a table (echo included in the answer)
// and stays silent on anything else.
struct ScriptedBoard {
    ScriptedBoard() {
        tap.onHostLine = [this](VirtualNs at, const std::string& line) {
            ++heard[line];
            if (onLine) {
                onLine(at, line);
                return;
            }
            const auto it = answers.find(line);
            if (it != answers.end()) {
                tap.inject(at + delay, it->second);
            }
        };
    }

    test::DeadLineEnd dead;
    test::TapLineEnd tap{dead};
    std::map<std::string, std::string> answers;
    std::map<std::string, int> heard;
    std::function<void(VirtualNs, const std::string&)> onLine;
    VirtualNs delay = 0;
};

// The handshake of a chip that is up to identification.
std::map<std::string, std::string> Handshake() {
    return {
        {"?", "Synchronized\r\n"},
        {"Synchronized\r\n", "Synchronized\r\nOK\r\n"},
        {"12000\r\n", "12000\r\nOK\r\n"},
    };
}

TEST(IspProcedureTest, ABoardThatNeverAnswersGetsSixProbesTwoSlicesApart) {
    ScriptedBoard board;
    IspHarness h(board.tap);
    EXPECT_EQ(h.run(kImage), RunResult::ProgrammingError);
    EXPECT_EQ(h.sent(), "??????");
    const auto times = h.hostTimesOf('?');
    ASSERT_EQ(times.size(), 6u);
    for (std::size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], 2 * kSliceNs);
        EXPECT_LT(times[i] - times[i - 1], 2 * kSliceNs + 50 * kNsPerMs);
    }
    // The sync error message starts with CR LF; its first words are shown.
    EXPECT_EQ(h.status.texts, (Texts{"", "Attempting baud sync", "", kSyncErrorText, ""}));
    EXPECT_EQ(h.proc->reason(),
              "No answer to the synchronisation: is the board in its boot loader (P0.14 low at "
              "reset)?");
    // Nothing was written: the bar stays empty, its range unknown before the chip is.
    EXPECT_EQ(h.bar.maximum, 0);
    EXPECT_EQ(h.bar.pos, 0);
    // Given up two slices after the sixth probe.
    EXPECT_GE(h.device->now() - times.back(), 2 * kSliceNs);
    EXPECT_LT(h.device->now() - times.back(), 2 * kSliceNs + 50 * kNsPerMs);
}

TEST(IspProcedureTest, AnEchoedProbeIsConfirmedAfterAPauseWithoutProbingAgain) {
    ScriptedBoard board;
    board.answers = Handshake();
    board.answers["?"] = "?";  // already synchronised, echo on
    board.answers["J\r\n"] = "J\r\n0\r\n196389\r\n";
    board.answers["K\r\n"] = "K\r\n0\r\n13\r\n2\r\n";
    VirtualNs probeEchoed = 0;
    VirtualNs confirmSent = 0;
    board.onLine = [&](VirtualNs at, const std::string& line) {
        if (line == "?") {
            probeEchoed = at;
        }
        if (line == "Synchronized\r\n") {
            confirmSent = at - 13 * CharacterTimeNs(LineSettings{38400});
        }
        if (board.answers.count(line) != 0) {
            board.tap.inject(at, board.answers[line]);
        }
    };
    IspHarness h(board.tap, 38400, /*paced=*/true);
    EXPECT_EQ(h.run(kImage), RunResult::ProgrammingError);
    EXPECT_EQ(h.sentLines(), (Texts{"?Synchronized", "12000", "J", "K", "U 23130"}));
    EXPECT_GE(confirmSent - probeEchoed, 300 * kNsPerMs);
    EXPECT_LT(confirmSent - probeEchoed, 320 * kNsPerMs);
    // Silence after the unlock: the identification's time-out text is shared.
    EXPECT_EQ(h.status.texts, (Texts{"", "Attempting baud sync", "Baud sync sucessful",
                                     "Found chip: \"LPC2138 (500k)\"", "Boot code version 2.13", "",
                                     ": No response to unlock command", ""}));
    EXPECT_EQ(h.proc->learned.bootCode, "2.13");
}

TEST(IspProcedureTest, AnEchoOfTheSixthProbeStillFailsWithTheSyncError) {
    ScriptedBoard board;
    int probes = 0;
    board.onLine = [&](VirtualNs at, const std::string& line) {
        if (line == "?" && ++probes == 6) {
            board.tap.inject(at, "?");
        }
    };
    IspHarness h(board.tap);
    EXPECT_EQ(h.run(kImage), RunResult::ProgrammingError);
    EXPECT_EQ(h.sent(), "??????");
    EXPECT_EQ(h.status.texts, (Texts{"", "Attempting baud sync", "", kSyncErrorText, ""}));
}

TEST(IspProcedureTest, UnexpectedAnswersEndTheRunWithTheirFirstLine) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> answers;
        Texts lastTexts;
        Texts lines;
        std::string reason;
    };
    const auto handshakeWith = [](std::string line, std::string answer, std::string line2 = "",
                                  std::string answer2 = "") {
        auto answers = Handshake();
        answers[line] = answer;
        if (!line2.empty()) {
            answers[line2] = answer2;
        }
        return answers;
    };
    const std::vector<Case> cases = {
        {"sync answered with other text",
         {{"?", "Hello\r\n"}},
         {": Unexpected response to sync, \"Hello", ""},
         {"?"},
         "Unexpected answer to the synchronisation: \"Hello\""},
        {"sync not confirmed",
         handshakeWith("Synchronized\r\n", "Synchronized\r\nNO\r\n"),
         {": Unable to complete baud sync, NO", ""},
         {"?Synchronized"},
         "Unexpected answer to the confirmation of the synchronisation: \"NO\""},
        {"crystal refused",
         handshakeWith("12000\r\n", "12000\r\n1\r\n"),
         {": wrong response to crystal: 1", ""},
         {"?Synchronized", "12000"},
         "The board refused to take the crystal frequency (12000 kHz): INVALID_COMMAND (1)"},
        {"crystal refused with a code the loader does not have",
         handshakeWith("12000\r\n", "12000\r\n42\r\n"),
         {": wrong response to crystal: 42", ""},
         {"?Synchronized", "12000"},
         "The board refused to take the crystal frequency (12000 kHz): unknown return code 42"},
        {"identification refused",
         handshakeWith("J\r\n", "J\r\n1\r\n\r\n"),
         {": wrong response to ID: 1", ""},
         {"?Synchronized", "12000", "J"},
         "The board refused to report its part id: INVALID_COMMAND (1)"},
        {"unknown identification",
         handshakeWith("J\r\n", "J\r\n0\r\n196390\r\n"),
         {"", ": Unknown chip ID: \"196390\" (0x0002FF26).", ""},
         {"?Synchronized", "12000", "J"},
         "Unknown part id 196390 (0x0002FF26)"},
        {"identification with a trailing blank",
         handshakeWith("J\r\n", "J\r\n0\r\n196389 \r\n"),
         {"", ": Unknown chip ID: \"196389 \".", ""},
         {"?Synchronized", "12000", "J"},
         "Unexpected answer to the request for its part id: \"196389 \""},
        {"boot code version refused",
         handshakeWith("J\r\n", "J\r\n0\r\n196389\r\n", "K\r\n", "K\r\n1\r\n"),
         {": wrong response to boot code version: 1", ""},
         {"?Synchronized", "12000", "J", "K"},
         "The board refused to report its boot code version: INVALID_COMMAND (1)"},
        {"boot code version garbled",
         handshakeWith("J\r\n", "J\r\n0\r\n196389\r\n", "K\r\n", "K\r\n0\r\n1\r\nx\r\n"),
         {": wrong response to boot code version: 0", ""},
         {"?Synchronized", "12000", "J", "K"},
         "Unexpected answer to the request for its boot code version: \"x\""},
        {"no boot code version",
         handshakeWith("J\r\n", "J\r\n0\r\n196389\r\n", "K\r\n", "K\r\n0\r\n"),
         {": No response to boot code version", ""},
         {"?Synchronized", "12000", "J", "K"},
         std::string("No answer to the request for its boot code version: ") + kCheckBoard},
        {"no confirmation",
         {{"?", "Synchronized\r\n"}},
         {": No response to complete baud sync", ""},
         {"?Synchronized"},
         std::string("No answer to the confirmation of the synchronisation: ") + kCheckBoard},
        {"no crystal answer",
         handshakeWith("12000\r\n", "12000\r\n"),
         {": No response to crystal speed", ""},
         {"?Synchronized", "12000"},
         std::string("No answer to the command to take the crystal frequency (12000 kHz): ") +
             kCheckBoard},
        {"no identification",
         handshakeWith("J\r\n", "J\r\n"),
         {": No response to unlock command", ""},
         {"?Synchronized", "12000", "J"},
         std::string("No answer to the request for its part id: ") + kCheckBoard},
        // What an earlier run, stopped in the middle of a transfer, leaves
        // behind: a data line still on its way, or a loader that echoes the
        // probe and then waits for the rest of its data.
        {"sync answered with a data line",
         {{"?", "8#`\"/X@`0D.4!`*#C``\"!Y0#PH.-`P!_@\r\n"}},
         {": Unexpected response to sync, \"8#`\"/X@`0D.4!`*#C``\"!Y0#PH.-`P!_@", ""},
         {"?"},
         kStale},
        {"sync answered with a group's sum",
         {{"?", "2654\r\n"}},
         {": Unexpected response to sync, \"2654", ""},
         {"?"},
         kStale},
        {"probe echoed, then no answer to the confirmation",
         {{"?", "?"}, {"Synchronized\r\n", "Synchronized\r\n"}},
         {": No response to complete baud sync", ""},
         {"?Synchronized"},
         kStale},
        {"probe echoed, then the confirmation refused",
         {{"?", "?"}, {"Synchronized\r\n", "Synchronized\r\n1\r\n"}},
         {": Unable to complete baud sync, 1", ""},
         {"?Synchronized"},
         kStale},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedBoard board;
        board.answers = c.answers;
        IspHarness h(board.tap);
        EXPECT_EQ(h.run(kImage), RunResult::ProgrammingError);
        EXPECT_EQ(h.sentLines(), c.lines);
        ASSERT_GE(h.status.texts.size(), c.lastTexts.size());
        EXPECT_EQ(Texts(h.status.texts.end() - static_cast<std::ptrdiff_t>(c.lastTexts.size()),
                        h.status.texts.end()),
                  c.lastTexts);
        EXPECT_EQ(h.proc->reason(), c.reason);
    }
}

TEST(IspProcedureTest, AnEchoThatDiffersFromTheCommandRunsIntoItsTimeOut) {
    ScriptedBoard board;
    board.answers = Handshake();
    board.answers["12000\r\n"] = "12001\r\nOK\r\n";
    IspHarness h(board.tap);
    EXPECT_EQ(h.run(kImage), RunResult::ProgrammingError);
    // Three slices after the crystal line, not at the wrong echo.
    const auto times = h.hostTimesOf('\n');
    ASSERT_EQ(times.size(), 2u);
    EXPECT_GE(h.device->now() - times.back(), 3 * kSliceNs);
    EXPECT_EQ(h.status.texts.back(), "");
    EXPECT_EQ(h.status.texts[h.status.texts.size() - 2], ": No response to crystal speed");
}

TEST(IspProcedureTest, AChattyBoardCannotOverrunTheResponse) {
    ScriptedBoard board;
    board.answers = Handshake();
    board.answers["J\r\n"] = "J\r\n" + std::string(10000, 'x') + "\r\n";
    IspHarness h(board.tap);
    EXPECT_EQ(h.run(kImage), RunResult::ProgrammingError);
    EXPECT_EQ(h.status.texts[h.status.texts.size() - 2], ": No response to unlock command");
}

TEST(IspProcedureTest, AnAbortRequestedBeforeTheRunStopsIt) {
    ScriptedBoard board;
    board.answers = {{"?", "Hello\r\n"}};
    IspHarness h(board.tap);
    h.proc->RequestAbort();
    EXPECT_EQ(h.run(kImage), RunResult::Aborted);
    EXPECT_EQ(h.sent(), "?");
}

}  // namespace
}  // namespace korvel
