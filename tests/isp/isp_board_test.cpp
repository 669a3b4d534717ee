// Whole ISP runs against the LPC boot-loader model in virtual time: the
// flash the chip ends up with, the commands it saw, every fault's outcome.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "jobs/generic_thread.h"
#include "jobs/queued_handover.h"
#include "procedures/isp/isp_procedure.h"
#include "procedures/package_kinds.h"
#include "serial/port_resolver.h"
#include "sim/lpc_board.h"
#include "sim/lpc_hex_writer.h"
#include "sim/package_writer.h"
#include "tests/isp/isp_harness.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

using sim::HexSegment;
using sim::LpcBoard;
using sim::LpcFault;
using test::IspHarness;
using test::kNsPerMs;
using Texts = std::vector<std::string>;

constexpr VirtualNs kSliceNs = 2000 * kNsPerMs;

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<std::uint8_t>(seed >> 16);
    }
    return bytes;
}

const sim::LpcPart& Part(const char* name) {
    const sim::LpcPart* part = sim::FindLpcPart(name);
    EXPECT_NE(part, nullptr) << name;
    return *part;
}

LpcBoard::Options Faults(std::set<LpcFault> faults) {
    LpcBoard::Options options;
    options.faults = std::move(faults);
    return options;
}

std::size_t Count(const Texts& texts, const std::string& text) {
    return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
}

Texts Tail(const Texts& texts, std::size_t n) {
    return Texts(texts.end() - static_cast<std::ptrdiff_t>(std::min(n, texts.size())), texts.end());
}

// The host's lines from the first one equal to `from`.
Texts LinesFrom(const Texts& lines, const std::string& from) {
    return Texts(std::find(lines.begin(), lines.end(), from), lines.end());
}

struct ImageCase {
    const char* chip;
    const char* what;
    std::vector<HexSegment> segments;
    bool lfLineEnds = false;
};

std::string WithoutCr(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

TEST(IspBoardTest, EveryChipFamilyEndsWithTheImageInFlashAndTheFirmwareStarted) {
    const std::vector<ImageCase> cases = {
        {"LPC2138", "dense 40 KB", {{0, Pattern(40000, 1)}}},
        {"LPC2106",
         "sparse",
         {{0, Pattern(64, 2)},
          {0x6100, Pattern(300, 3)},
          {0x12000, Pattern(9000, 4)},
          {0x1DFF0, Pattern(16, 5)}}},
        {"LPC2368",
         "with extended linear addresses",
         {{0, Pattern(2048, 6)},
          {0xFFF0, Pattern(0x2400, 7)},
          {0x7A010, Pattern(5000, 8)},
          {0x7CFFC, Pattern(4, 9)}}},
        {"LPC2129", "64 KB sectors", {{0, Pattern(32, 10)}, {0x10000, Pattern(0x10000, 11)}}},
        {"LPC2131", "one block", {{0x100, Pattern(7, 12)}}},
        {"LPC2138", "LF line ends", {{0, Pattern(5000, 13)}, {0x7C000, Pattern(300, 14)}}, true},
        // 502 KB reach into sector 27, which only the LPC23xx/24xx have.
        {"LPC2368", "502 KB", {{0, Pattern(502 * 1024, 15)}}},
    };
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(std::string(c.chip) + " " + c.what);
        LpcBoard board(Part(c.chip));
        IspHarness h(board);
        const std::string hex = sim::WriteIntelHex(c.segments);
        EXPECT_EQ(h.run(c.lfLineEnds ? WithoutCr(hex) : hex), RunResult::Success);
        EXPECT_EQ(board.flash(), sim::ExpectedLpcFlash(c.segments, board.part().flashBytes()));
        EXPECT_TRUE(board.vectorsValid());
        ASSERT_TRUE(board.started());
        EXPECT_TRUE(board.started()->reachedUserCode) << board.started()->fault;
        EXPECT_EQ(board.resends(), 0);
        EXPECT_EQ(h.proc->reason(), "");
    }
}

TEST(IspBoardTest, A512ByteImageErasesSectorZeroOnlyAndCopiesOneBlock) {
    LpcBoard board(Part("LPC2138"));
    IspHarness h(board);
    ASSERT_EQ(h.run(sim::WriteIntelHex({{0, Pattern(512, 20)}})), RunResult::Success);
    // Sector 0 is erased without a blank check.
    EXPECT_EQ(board.commands(),
              (Texts{"J", "K", "U 23130", "P 0 0", "E 0 0", "W 1073742336 4096", "P 0 0",
                     "C 0 1073742336 4096", "W 1073742336 24", "G 1073742336 A"}));
    // 91 full lines and one of one byte, a checksum after every 20 and the last.
    const Texts block = LinesFrom(h.sentLines(), "W 1073742336 4096");
    ASSERT_GE(block.size(), 98u);
    for (int i = 1; i <= 97; ++i) {
        const std::string& line = block[static_cast<std::size_t>(i)];
        const bool checksum = i % 21 == 0 || i == 97;
        if (checksum) {
            EXPECT_TRUE(std::all_of(line.begin(), line.end(), ::isdigit)) << i << ": " << line;
        } else if (i == 96) {
            EXPECT_EQ(line, "!_P``");  // the block's last byte, erased
        } else {
            EXPECT_EQ(line.size(), 61u) << i;
            EXPECT_EQ(line[0], 'M') << i;
        }
    }
    EXPECT_EQ(block[97], "126480");  // last group: 11 lines of 45 and 1 byte, all 0xFF
    EXPECT_EQ(block[98], "P 0 0");

    const Texts& texts = h.status.texts;
    EXPECT_EQ(Count(texts, "not used"), 26u + 7u + 14u * 8u + 5u);
    const Texts erasePass = {"Erasing....", "Sector  0", "Ok", "Sector  1", "not used"};
    EXPECT_NE(std::search(texts.begin(), texts.end(), erasePass.begin(), erasePass.end()),
              texts.end());
    const Texts writePass = {"Programming....", "Sector  0 (0x00000000-0x00000FFF)", "Ok",
                             "Sector  1 (0x00001000-0x00001FFF)", "not used"};
    EXPECT_NE(std::search(texts.begin(), texts.end(), writePass.begin(), writePass.end()),
              texts.end());
    EXPECT_EQ(Tail(texts, 3),
              (Texts{"Booting (soft jump)...", "loading jump code", "jumping now!"}));
    // One block of five checksum groups: full once it is copied.
    EXPECT_EQ(h.bar.maximum, 5);
    EXPECT_EQ(h.bar.pos, 5);
    // What the run learned; the jump program is not the image.
    EXPECT_EQ(h.proc->learned.chip, "LPC2138 (500k)");
    EXPECT_EQ(h.proc->learned.partId, 196389u);
    // "K" answers the minor number first.
    EXPECT_EQ(h.proc->learned.bootCode, "2.12");
    EXPECT_EQ(h.proc->learned.bytesWritten, 512u);
    EXPECT_FALSE(h.proc->learned.verified);
}

TEST(IspBoardTest, BlankSectorsAreNotErasedAndUsedOnesAre) {
    // Old firmware in sector 2; sector 1 is blank; the new image uses 0 to 2.
    std::vector<std::uint8_t> old(0x3000, 0xFF);
    std::fill(old.begin() + 0x2100, old.begin() + 0x2200, 0x00);
    LpcBoard::Options options;
    options.flash = old;
    LpcBoard board(Part("LPC2138"), options);
    IspHarness h(board);
    const std::vector<HexSegment> image = {
        {0, Pattern(64, 30)}, {0x1800, Pattern(16, 31)}, {0x2000, Pattern(16, 32)}};
    ASSERT_EQ(h.run(sim::WriteIntelHex(image)), RunResult::Success);
    const Texts commands(board.commands().begin(), board.commands().begin() + 9);
    EXPECT_EQ(commands,
              (Texts{"J", "K", "U 23130", "P 0 0", "E 0 0", "I 1 1", "I 2 2", "P 2 2", "E 2 2"}));
    const Texts expected = {"Sector  1", "already blank", "Sector  2", "Ok"};
    EXPECT_NE(
        std::search(h.status.texts.begin(), h.status.texts.end(), expected.begin(), expected.end()),
        h.status.texts.end());
    EXPECT_EQ(board.flash(), sim::ExpectedLpcFlash(image, board.part().flashBytes()));
}

TEST(IspBoardTest, ALargeSectorIsWrittenBlockByBlockEachPreparedBeforeItsCopy) {
    LpcBoard board(Part("LPC2129"));
    IspHarness h(board);
    ASSERT_EQ(h.run(sim::WriteIntelHex({{0x10000, Pattern(0x10000, 40)}})), RunResult::Success);
    const Texts& all = board.commands();
    auto from = std::find(all.begin(), all.end(), "P 0 0");
    from = std::find(from + 1, all.end(), "W 1073742336 8192");  // past the erase pass
    from = std::find(from + 1, all.end(), "W 1073742336 8192");  // sector 0's block done
    Texts sector8;
    for (int k = 0; k < 8; ++k) {
        sector8.push_back("W 1073742336 8192");
        sector8.push_back("P 8 8");
        sector8.push_back("C " + std::to_string(65536 + 8192 * k) + " 1073742336 8192");
    }
    ASSERT_GE(all.end() - from, 24);
    EXPECT_EQ(Texts(from, from + 24), sector8);
    // An 8192-byte block: 182 full lines and one of 2 bytes, 10 checksums.
    const Texts lines = LinesFrom(h.sentLines(), "W 1073742336 8192");
    const auto next = std::find(lines.begin() + 1, lines.end(), "P 0 0");
    EXPECT_EQ(next - lines.begin(), 1 + 183 + 10);
}

TEST(IspBoardTest, TheJumpProgramGoesToRamAsOneLineOnOlderChipsAndTwoOnNewerOnes) {
    {
        LpcBoard board(Part("LPC2104"));
        IspHarness h(board);
        ASSERT_EQ(h.run(sim::WriteIntelHex({{0, Pattern(100, 50)}})), RunResult::Success);
        EXPECT_EQ(LinesFrom(h.sentLines(), "W 1073742336 24"),
                  (Texts{"W 1073742336 24", "8#`\"/X@`0D.4!`*#C``\"!Y0#PH.-`P!_@", "2654",
                         "G 1073742336 A"}));
    }
    {
        LpcBoard board(Part("LPC2368"));
        IspHarness h(board);
        ASSERT_EQ(h.run(sim::WriteIntelHex({{0, Pattern(100, 51)}})), RunResult::Success);
        EXPECT_EQ(
            LinesFrom(h.sentLines(), "W 1073742336 76"),
            (Texts{"W 1073742336 76",
                   "M.`\"/X@`0D.4$()#E\"#\"0Y0$`H.,``('EJD\"@XU50H.,``(+E`$\"#Y0!0@^4`",
                   "?`*#C``\"\"Y0!`@^4`4(/E`/\"@XT#`'^\"`P!_@C,`?X```", "8704", "G 1073742336 A"}));
        ASSERT_TRUE(board.started());
        EXPECT_TRUE(board.started()->reachedUserCode);
    }
}

TEST(IspBoardTest, EveryFaultEndsWithTheResultAndTextsOfItsStep) {
    struct Case {
        LpcFault fault;
        RunResult result;
        Texts lastTexts;
        // The outcome's reason: the step and the board's answer.
        std::string reason;
    };
    const std::string checkBoard =
        "check the cable and the board's power, then reset the board and try again";
    const std::vector<Case> cases = {
        {LpcFault::Silent,
         RunResult::ProgrammingError,
         {"Attempting baud sync", "", ": ERROR: Unable to sync to baud rate.", ""},
         "No answer to the synchronisation: is the board in its boot loader (P0.14 low at "
         "reset)?"},
        {LpcFault::NoEcho,
         RunResult::ProgrammingError,
         {"", ": No response to complete baud sync", ""},
         "No answer to the confirmation of the synchronisation: " + checkBoard},
        {LpcFault::UnknownId,
         RunResult::ProgrammingError,
         {"Baud sync sucessful", "", ": Unknown chip ID: \"33685249\" (0x0201FF01).", ""},
         "Unknown part id 33685249 (0x0201FF01)"},
        {LpcFault::RefuseUnlock,
         RunResult::ProgrammingError,
         {"", ": wrong response unlock: 16", ""},
         "The board refused to unlock its flash commands: INVALID_CODE (16)"},
        {LpcFault::RefuseErase,
         RunResult::ProgrammingError,
         {"Sector  0", "Error", "", ": Unable to erase flash", ""},
         "The board refused to erase sector 0: BUSY (11)"},
        // Line errors cost a group sent again, not the run.
        {LpcFault::ResendOnce, RunResult::Success, {"loading jump code", "jumping now!"}, ""},
        {LpcFault::DropByte, RunResult::Success, {"loading jump code", "jumping now!"}, ""},
        {LpcFault::GarbleEcho, RunResult::Success, {"loading jump code", "jumping now!"}, ""},
        {LpcFault::ResendAlways,
         RunResult::ProgrammingError,
         {"", ": bad checksum, also after the group was sent 3 times more", ""},
         "Line errors in the data for 0x00000000, also after 3 more tries: check the cable or "
         "choose a lower baud rate"},
        // Left synchronised by an earlier session: only a reset helps.
        {LpcFault::EchoProbe,
         RunResult::ProgrammingError,
         {"", ": Unable to complete baud sync, 1", ""},
         "The board answered the synchronisation with the rest of an earlier, stopped "
         "transfer: reset the board and try again"},
        // The board's bytes are escaped in the reason.
        {LpcFault::SyncGarbage,
         RunResult::ProgrammingError,
         {"", ": Unexpected response to sync, \"~\x86x\xF8", ""},
         "Unexpected answer to the synchronisation: \"~\\x86x\\xF8\""},
        // Stopped in the middle of a RAM write: the confirmation is taken as data.
        {LpcFault::StoppedTransfer,
         RunResult::ProgrammingError,
         {"", ": No response to complete baud sync", ""},
         "The board answered the synchronisation with the rest of an earlier, stopped "
         "transfer: reset the board and try again"},
        {LpcFault::GoSilent, RunResult::Success, {"loading jump code", "jumping now!"}, ""},
        {LpcFault::GoError,
         RunResult::ProgrammingError,
         {"jumping now!", "response = 13", "", ": couldn't run program", ""},
         "The board refused to start the firmware: ADDR_ERROR (13)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        LpcBoard board(Part("LPC2138"), Faults({c.fault}));
        IspHarness h(board);
        EXPECT_EQ(h.run(sim::WriteIntelHex({{0, Pattern(1000, 60)}})), c.result);
        EXPECT_EQ(Tail(h.status.texts, c.lastTexts.size()), c.lastTexts);
        EXPECT_EQ(h.proc->reason(), c.reason);
        // Learned up to the step that failed.
        const bool identified = c.result == RunResult::Success ||
                                c.fault == LpcFault::RefuseUnlock ||
                                c.fault == LpcFault::RefuseErase ||
                                c.fault == LpcFault::ResendAlways || c.fault == LpcFault::GoError;
        EXPECT_EQ(h.proc->learned.chip, identified ? "LPC2138 (500k)" : "");
        // The one block of the image is copied before the firmware is started.
        const bool copied = c.result == RunResult::Success || c.fault == LpcFault::GoError;
        EXPECT_EQ(h.proc->learned.bytesWritten, copied ? 1000u : 0u);
    }
}

TEST(IspBoardTest, VerifyChecksTheWrittenFlashAfterTheBootBlockAndNamesTheFirstDifference) {
    const std::vector<HexSegment> image = {{0, Pattern(10000, 61)}, {0x20000, Pattern(100, 62)}};
    const std::uint8_t wanted = image[0].bytes[0x100];
    char failure[96];
    std::snprintf(failure, sizeof failure,
                  ": Verify failed at 0x00000100: the flash holds 0xFF, the image 0x%02X", wanted);
    char mismatch[64];
    std::snprintf(mismatch, sizeof mismatch, "Verify failed at 0x00000100: wrote 0x%02X, read 0xFF",
                  wanted);
    const std::string compared =
        "Verify failed at 0x00000100: the flash there differs from what was written: program the "
        "board again, and set it aside if it fails again";
    const Texts started = {"loading jump code", "jumping now!"};
    // Three adjacent 4 KB blocks less the boot block's 64 bytes, then one block.
    const Texts reads = {"R 64 12224", "R 131072 4096"};
    // Each block right after its copy, from the RAM buffer at 0x40000200.
    const Texts compares = {"M 64 1073742400 4032", "M 4096 1073742336 4096",
                            "M 8192 1073742336 4096", "M 131072 1073742336 4096"};
    struct Case {
        const char* what;
        VerifyMode verify;
        std::set<LpcFault> faults;
        RunResult result;
        bool verified;
        Texts lastTexts;
        std::string reason;
        Texts checks;  // the commands that read back or compare
    };
    const std::vector<Case> cases = {
        {"good board", VerifyMode::Readback, {}, RunResult::Success, true, started, "", reads},
        {"weak cell",
         VerifyMode::Readback,
         {LpcFault::WeakCell},
         RunResult::ProgrammingError,
         false,
         {"Verifying....", "", failure, ""},
         mismatch,
         {reads[0]}},
        // A group that reads back with a wrong sum is asked for again.
        {"noisy read-back",
         VerifyMode::Readback,
         {LpcFault::ReadNoise},
         RunResult::Success,
         true,
         started,
         "",
         reads},
        {"good board compared",
         VerifyMode::Compare,
         {},
         RunResult::Success,
         true,
         started,
         "",
         compares},
        // The chip finds it in the first block and the run goes no further.
        {"weak cell compared",
         VerifyMode::Compare,
         {LpcFault::WeakCell},
         RunResult::ProgrammingError,
         false,
         {"Sector  0 (0x00000000-0x00000FFF)", "", ": Verify failed at 0x00000100", ""},
         compared,
         {compares[0]}},
        // Unverified, the same board passes: only a check catches it.
        {"weak cell unverified",
         VerifyMode::None,
         {LpcFault::WeakCell},
         RunResult::Success,
         false,
         started,
         "",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LpcBoard board(Part("LPC2138"), Faults(c.faults));
        IspHarness h(board);
        h.proc->SetVerify(c.verify);
        EXPECT_EQ(h.run(sim::WriteIntelHex(image)), c.result);
        EXPECT_EQ(h.proc->learned.verify, c.verify);
        EXPECT_EQ(h.proc->learned.verified, c.verified);
        EXPECT_EQ(Tail(h.status.texts, c.lastTexts.size()), c.lastTexts);
        EXPECT_EQ(h.proc->reason(), c.reason);
        Texts checks;
        std::copy_if(
            board.commands().begin(), board.commands().end(), std::back_inserter(checks),
            [](const std::string& command) { return command[0] == 'R' || command[0] == 'M'; });
        EXPECT_EQ(checks, c.checks);
        EXPECT_EQ(board.started().has_value(), c.result == RunResult::Success);
        const Texts sent = h.sentLines();
        EXPECT_EQ(std::count(sent.begin(), sent.end(), "RESEND"),
                  c.faults.count(LpcFault::ReadNoise) ? 1 : 0);
        if (c.verify == VerifyMode::Compare) {
            // On the wire: the compare right after the copy of the same block.
            const std::string wire = h.sent();
            EXPECT_NE(wire.find("C 0 1073742336 4096\r\nM 64 1073742400 4032\r\n"),
                      std::string::npos);
        }
    }
}

TEST(IspBoardTest, SilenceAfterGoCountsAsSuccessFourSlicesLater) {
    LpcBoard board(Part("LPC2138"), Faults({LpcFault::GoSilent}));
    IspHarness h(board);
    VirtualNs goSent = 0;
    ASSERT_EQ(h.run(sim::WriteIntelHex({{0, Pattern(10, 61)}})), RunResult::Success);
    for (const WireEvent& e : h.wire) {
        if (e.kind == WireEvent::Kind::HostByte && e.byte == 'G') {
            goSent = e.at;
        }
    }
    EXPECT_GE(h.device->now() - goSent, 4 * kSliceNs);
    EXPECT_LT(h.device->now() - goSent, 4 * kSliceNs + 100 * kNsPerMs);
    ASSERT_TRUE(board.started());
    EXPECT_TRUE(board.started()->reachedUserCode);
}

TEST(IspBoardTest, ALateAnswerToGoInTheLastSliceIsJudgedAfterTheTimeOut) {
    // The answer arrives in the slice in which the time-out runs out: the
    // time-out (success) is handled first, the answer (failure) after it.
    LpcBoard board(Part("LPC2138"), Faults({LpcFault::GoSilent}));
    test::TapLineEnd tap(board);
    tap.onHostLine = [&](VirtualNs at, const std::string& line) {
        if (line == "G 1073742336 A\r\n") {
            tap.inject(at + 7000 * kNsPerMs, "13\r\n");
        }
    };
    IspHarness h(tap);
    EXPECT_EQ(h.run(sim::WriteIntelHex({{0, Pattern(10, 62)}})), RunResult::ProgrammingError);
    EXPECT_EQ(Tail(h.status.texts, 4), (Texts{"response = 13", "", ": couldn't run program", ""}));
}

TEST(IspBoardTest, StopDuringAnEraseEndsTheRunWithinOneSlice) {
    LpcBoard::Options options;
    options.flashTiming = true;
    LpcBoard board(Part("LPC2138"), options);
    test::TapLineEnd tap(board);
    IspHarness h(tap, 38400, /*paced=*/true);
    VirtualNs eraseSent = 0;
    VirtualNs stoppedAt = 0;
    std::size_t commandsAtStop = 0;
    tap.onHostLine = [&](VirtualNs at, const std::string& line) {
        if (line == "E 0 0\r\n") {
            eraseSent = at;
        }
    };
    // Stop 100 ms into the 400 ms erase.
    tap.onPoll = [&](VirtualNs now) {
        if (eraseSent != 0 && stoppedAt == 0 && now >= eraseSent + 100 * kNsPerMs) {
            h.proc->RequestAbort();
            stoppedAt = now;
            commandsAtStop = board.commands().size();
        }
    };
    // The erase still ends (and is answered) in that slice: the result is 5.
    EXPECT_EQ(h.run(sim::WriteIntelHex({{0, Pattern(5000, 63)}})), RunResult::Aborted);
    ASSERT_GT(stoppedAt, 0u);
    EXPECT_LT(h.device->now() - stoppedAt, kSliceNs);
    EXPECT_GE(h.device->now() - eraseSent, LpcBoard::kEraseNs);
    // At most the step that the erase's answer began.
    EXPECT_LE(board.commands().size(), commandsAtStop + 1);
}

TEST(IspBoardTest, StopInTheMiddleOfATransferSendsNoMoreThanTheStepUnderWay) {
    LpcBoard board(Part("LPC2138"));
    test::TapLineEnd tap(board);
    IspHarness h(tap);
    std::size_t linesAtStop = 0;
    int dataLines = 0;
    tap.onHostLine = [&](VirtualNs, const std::string& line) {
        if (line.size() == 63 && ++dataLines == 30) {
            h.proc->RequestAbort();
            linesAtStop = h.sentLines().size();
        }
    };
    EXPECT_EQ(h.run(sim::WriteIntelHex({{0, Pattern(20000, 64)}})), RunResult::Aborted);
    EXPECT_LE(h.sentLines().size(), linesAtStop + 1);
}

TEST(IspBoardTest, AnImageThatCannotBeProgrammedWholeLeavesTheFlashAsItWas) {
    std::string badChecksum = sim::WriteIntelHex({{0, Pattern(3000, 70)}});
    // Line 101 (addresses 0x640 on) gets a bad checksum byte.
    std::size_t pos = 0;
    for (int line = 1; line < 101; ++line) {
        pos = badChecksum.find("\r\n", pos) + 2;
    }
    const std::size_t end = badChecksum.find("\r\n", pos);
    badChecksum[end - 1] = badChecksum[end - 1] == '0' ? '1' : '0';
    const std::string upToIdentification = "?Synchronized\r\n12000\r\nJ\r\nK\r\n";

    struct Case {
        const char* what;
        const char* chip;
        std::string hex;
        Texts lastTexts;
        std::string sent;
    };
    const std::vector<Case> cases = {
        {"wrong checksum on line 101",
         "LPC2138",
         badChecksum,
         {"Firmware image: line 101: wrong checksum"},
         ""},
        {"no data", "LPC2138", ":00000001FF\r\n", {"Firmware image: no data"}, ""},
        {"a record past the end of an LPC2106",
         "LPC2106",
         sim::WriteIntelHex({{0, Pattern(64, 71)}, {0x1E000, Pattern(16, 72)}}),
         {"",
          ": Firmware image: highest address 0x0001E00F does not fit the 120 KB flash of the "
          "LPC2106 (120k)",
          ""},
         upToIdentification},
        {"one byte past the end of an LPC2138",
         "LPC2138",
         sim::WriteIntelHex({{0, Pattern(64, 73)}, {0x7CFFF, Pattern(2, 74)}}),
         {"",
          ": Firmware image: highest address 0x0007D000 does not fit the 500 KB flash of the "
          "LPC2138 (500k)",
          ""},
         upToIdentification},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const sim::LpcPart& part = Part(c.chip);
        LpcBoard::Options options;
        options.flash = Pattern(part.flashBytes(), 75);
        LpcBoard board(part, options);
        IspHarness h(board);
        EXPECT_EQ(h.run(c.hex), RunResult::ProgrammingError);
        EXPECT_EQ(Tail(h.status.texts, c.lastTexts.size()), c.lastTexts);
        EXPECT_EQ(h.sent(), c.sent);
        EXPECT_EQ(board.flash(), options.flash);
    }
}

TEST(IspBoardTest, TheBarIsFullOnlyOnceTheLastBlockIsCopied) {
    // Data up to sector 26 of an LPC2138, as the bundled example has.
    LpcBoard board(Part("LPC2138"));
    test::TapLineEnd tap(board);
    IspHarness h(tap);
    std::vector<int> beforeCopies;
    int beforeGo = -1;
    tap.onHostLine = [&](VirtualNs, const std::string& line) {
        if (line.rfind("C ", 0) == 0) {
            beforeCopies.push_back(h.bar.pos);
        } else if (line == "G 1073742336 A\r\n") {
            beforeGo = h.bar.pos;
        }
    };
    ASSERT_EQ(h.run(sim::WriteIntelHex({{0, Pattern(40000, 80)}, {0x7C000, Pattern(16, 81)}})),
              RunResult::Success);
    // Eleven 4 KB blocks of five checksum groups each.
    EXPECT_EQ(h.bar.maximum, 11 * 5);
    ASSERT_EQ(beforeCopies.size(), 11u);
    for (std::size_t i = 0; i < beforeCopies.size(); ++i) {
        EXPECT_EQ(beforeCopies[i], static_cast<int>(5 * i + 4)) << i;
    }
    EXPECT_EQ(beforeGo, 11 * 5);
    EXPECT_EQ(h.bar.pos, 11 * 5);
}

TEST(IspBoardTest, APacedRunAt38400TakesTheLineTimeOfABoardAndMatches) {
    LpcBoard::Options options;
    options.flashTiming = true;
    LpcBoard board(Part("LPC2138"), options);
    IspHarness h(board, 38400, /*paced=*/true);
    const std::vector<HexSegment> image = {{0, Pattern(40 * 1024, 90)}};
    ASSERT_EQ(h.run(sim::WriteIntelHex(image)), RunResult::Success);
    EXPECT_EQ(board.flash(), sim::ExpectedLpcFlash(image, board.part().flashBytes()));
    std::size_t hostBytes = 0;
    for (const WireEvent& e : h.wire) {
        hostBytes += e.kind == WireEvent::Kind::HostByte ? 1 : 0;
    }
    // Every host character on the line, the erase of sector 0 (1 to 8 are
    // blank) and ten 4 KB copies at 1 ms per 256 bytes.
    const VirtualNs bound =
        hostBytes * CharacterTimeNs(LineSettings{38400}) + LpcBoard::kEraseNs + 10 * 16 * kNsPerMs;
    EXPECT_GE(h.device->now(), bound);
    // Waiting for the echo instead of polling for it costs no line time.
    EXPECT_LT(h.device->now(), bound * 101 / 100);
    EXPECT_EQ(board.overrunBytes(), 0);
    // Within a group the host does not wait for echoes: its 20 data lines and
    // the sum line leave back to back, each character right after the last.
    const VirtualNs charNs = CharacterTimeNs(LineSettings{38400});
    std::size_t run = 1;
    std::size_t longestRun = 0;
    VirtualNs last = -1;
    for (const WireEvent& e : h.wire) {
        if (e.kind != WireEvent::Kind::HostByte) {
            continue;
        }
        run = e.at - last == charNs ? run + 1 : 1;
        longestRun = std::max(longestRun, run);
        last = e.at;
    }
    EXPECT_GE(longestRun, 20u * 63 + 6);
}

TEST(IspBoardTest, APacedVerifyTakesTheLineTimeOfWhatTheChipSendsBack) {
    const std::vector<HexSegment> image = {{0, Pattern(12 * 1024, 91)}};
    // The same run twice, the second with verify: what it adds is the read-back.
    VirtualNs took[2] = {};
    std::size_t boardBytes[2] = {};
    for (const bool verify : {false, true}) {
        LpcBoard board(Part("LPC2138"));
        IspHarness h(board, 115200, /*paced=*/true);
        h.proc->SetVerify(verify ? VerifyMode::Readback : VerifyMode::None);
        ASSERT_EQ(h.run(sim::WriteIntelHex(image)), RunResult::Success);
        ASSERT_EQ(h.proc->learned.verified, verify);
        took[verify] = h.device->now();
        boardBytes[verify] = static_cast<std::size_t>(
            std::count_if(h.wire.begin(), h.wire.end(),
                          [](const WireEvent& e) { return e.kind == WireEvent::Kind::BoardByte; }));
    }
    // The chip's line is the bottleneck: the host's wait for the rest of each
    // group must not add to it.
    const VirtualNs lineTime = static_cast<VirtualNs>(boardBytes[1] - boardBytes[0]) *
                               CharacterTimeNs(LineSettings{115200});
    EXPECT_GE(took[1] - took[0], lineTime);
    EXPECT_LT(took[1] - took[0], lineTime * 102 / 100);
}

class RunIspTest : public ::testing::Test {
  protected:
    static constexpr int kPort = 47;
    static constexpr int kMissingPort = 48;

    void SetUp() override {
        PortResolver::instance().registerDevice(
            kPort, [this] { return std::make_unique<VirtualSerialDevice>(*board); });
        VirtualSerialDevice::Options refused;
        refused.openFailure = OpenFailure{2, "No such file or directory", false};
        PortResolver::instance().registerDevice(kMissingPort, [this, refused] {
            return std::make_unique<VirtualSerialDevice>(*board, refused);
        });
    }
    void TearDown() override { PortResolver::instance().clear(); }

    RunResult run(char kind, int port, const std::string& hex) {
        const std::vector<std::uint8_t> data(hex.begin(), hex.end());
        const auto file = dir.write("fw.pr2", sim::BuildPackage({{"LPC2138", "1.00", kind, data}}));
        TFilePro package;
        EXPECT_TRUE(package.LoadFromFile(file));
        QueuedHandover handover;
        test::RecordingBar bar;
        test::RecordingStatus panel;
        std::optional<RunResult> result;
        GenericThread thread(handover, nullptr, StandardDrivers());
        thread.OnFinished = [&](const Outcome& o) { result = o.result; };
        thread.Setup(package, &bar, 115200, &panel, port);
        thread.SetResetLines(resetLines);
        thread.Start();
        while (!result) {
            handover.Serve(std::chrono::milliseconds(5));
        }
        texts = panel.texts;
        return *result;
    }

    std::unique_ptr<LpcBoard> board = std::make_unique<LpcBoard>(Part("LPC2138"));
    test::TempDir dir;
    Texts texts;
    ResetLines resetLines;
};

TEST_F(RunIspTest, BothKindsProgramEntryZeroAtTheRunsBaudRate) {
    for (char kind : {'F', '\''}) {
        SCOPED_TRACE(kind);
        const std::vector<HexSegment> image = {{0, Pattern(6000, kind)}};
        EXPECT_EQ(run(kind, kPort, sim::WriteIntelHex(image)), RunResult::Success);
        EXPECT_EQ(board->flash(), sim::ExpectedLpcFlash(image, board->part().flashBytes()));
        EXPECT_EQ(board->line().baudRate, 115200);
        EXPECT_EQ(texts.back(), "jumping now!");
        board = std::make_unique<LpcBoard>(Part("LPC2138"));
    }
}

TEST_F(RunIspTest, ResetLinesBringTheBoardIntoItsLoaderFirstAndStartItsFirmwareLast) {
    constexpr int kLoggedPort = 49;
    std::vector<WireEvent> wire;
    VirtualSerialDevice::Options logged;
    logged.wireLog = &wire;
    PortResolver::instance().registerDevice(kLoggedPort, [this, logged] {
        return std::make_unique<VirtualSerialDevice>(*board, logged);
    });
    resetLines.driven = true;
    const std::vector<HexSegment> image = {{0, Pattern(3000, 7)}};
    ASSERT_EQ(run('F', kLoggedPort, sim::WriteIntelHex(image)), RunResult::Success);
    EXPECT_EQ(board->flash(), sim::ExpectedLpcFlash(image, board->part().flashBytes()));

    using Kind = WireEvent::Kind;
    auto isHostByte = [](const WireEvent& e) { return e.kind == Kind::HostByte; };
    const auto firstByte = std::find_if(wire.begin(), wire.end(), isHostByte);
    const auto lastByte = std::find_if(wire.rbegin(), wire.rend(), isHostByte).base();
    ASSERT_NE(firstByte, wire.end());
    auto lineChanges = [](auto from, auto to) {
        std::vector<Kind> kinds;
        for (auto e = from; e != to; ++e) {
            if (e->isModemLineChange()) {
                kinds.push_back(e->kind);
            }
        }
        return kinds;
    };
    EXPECT_EQ(lineChanges(wire.begin(), firstByte),
              (std::vector<Kind>{Kind::DtrOn, Kind::RtsOn, Kind::DtrOff}));
    EXPECT_TRUE(lineChanges(firstByte, lastByte).empty()) << "boot-select held all the run";
    EXPECT_EQ(lineChanges(lastByte, wire.end()),
              (std::vector<Kind>{Kind::DtrOn, Kind::RtsOff, Kind::DtrOff}));
}

TEST_F(RunIspTest, APortThatDoesNotOpenEndsWithOneBeforeAnythingIsSent) {
    EXPECT_EQ(run('F', kMissingPort, ":00000001FF\r\n"), RunResult::PortNotOpened);
    EXPECT_TRUE(texts.empty());
    EXPECT_TRUE(board->commands().empty());
}

}  // namespace
}  // namespace korvel
