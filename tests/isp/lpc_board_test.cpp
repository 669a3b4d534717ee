// The LPC boot-loader model alone, driven with hand-written host text: it must
// behave as the chip does, or the procedure tests against it prove nothing.
#include "sim/lpc_board.h"

#include <gtest/gtest.h>

#include "serial/serial_port.h"
#include "serial/virtual_serial_device.h"

namespace korvel::sim {
namespace {

constexpr VirtualNs kMs = 1'000'000;

// A host with a terminal: types text, then collects what comes back until the
// line has been quiet for a while.
class Host {
  public:
    explicit Host(LpcBoard& board, bool paced = false) {
        VirtualSerialDevice::Options options;
        options.paced = paced;
        auto device = std::make_unique<VirtualSerialDevice>(board, options);
        device_ = device.get();
        port_ = std::make_unique<SerialPort>(std::move(device), 38400, 0x00);
        port_->open();
    }

    std::string say(const std::string& text, unsigned quietMs = 50) {
        port_->write(reinterpret_cast<const std::uint8_t*>(text.data()),
                     static_cast<std::uint16_t>(text.size()));
        return listen(quietMs);
    }

    std::string listen(unsigned quietMs = 50) {
        std::string got;
        VirtualNs lastByte = device_->now();
        while (device_->now() - lastByte < quietMs * kMs) {
            std::uint8_t buffer[64];
            const auto n = port_->read(buffer, sizeof buffer);
            if (n > 0) {
                got.append(buffer, buffer + n);
                lastByte = device_->now();
            }
        }
        return got;
    }

    // Handshake up to the command prompt.
    void synchronise() {
        ASSERT_EQ(say("?"), "Synchronized\r\n");
        ASSERT_EQ(say("Synchronized\r\n"), "Synchronized\r\nOK\r\n");
        ASSERT_EQ(say("12000\r\n"), "12000\r\nOK\r\n");
    }

    VirtualSerialDevice& device() { return *device_; }

  private:
    VirtualSerialDevice* device_ = nullptr;
    std::unique_ptr<SerialPort> port_;
};

LpcBoard::Options WithFaults(std::set<LpcFault> faults) {
    LpcBoard::Options options;
    options.faults = std::move(faults);
    return options;
}

LpcBoard::Options WithFlash(std::vector<std::uint8_t> flash) {
    LpcBoard::Options options;
    options.flash = std::move(flash);
    return options;
}

LpcBoard::Options WithFlashTiming() {
    LpcBoard::Options options;
    options.flashTiming = true;
    return options;
}

const LpcPart& Part(const char* name) {
    const LpcPart* part = FindLpcPart(name);
    EXPECT_NE(part, nullptr) << name;
    return *part;
}

TEST(LpcBoardTest, HandshakeNeedsTheProbeTheSyncLineAndTheCrystal) {
    LpcBoard board(Part("LPC2138"));
    Host host(board);
    // Nothing but "?" gets through the auto-baud.
    EXPECT_EQ(host.say("Synchronized\r\nJ\r\n"), "");
    EXPECT_EQ(host.say("?"), "Synchronized\r\n");
    // A wrong confirmation is echoed and sends the chip back to auto-baud.
    EXPECT_EQ(host.say("Synchronised\r\n"), "Synchronised\r\n");
    EXPECT_EQ(host.say("J\r\n"), "");
    host.synchronise();
    EXPECT_EQ(host.say("J\r\n"), "J\r\n0\r\n196389\r\n");
    EXPECT_EQ(board.commands(), std::vector<std::string>{"J"});
}

TEST(LpcBoardTest, CommandsAreEchoedAndAnsweredWithTheManualsCodes) {
    LpcBoard board(Part("LPC2138"));
    Host host(board);
    host.synchronise();
    EXPECT_EQ(host.say("X\r\n"), "X\r\n1\r\n");
    EXPECT_EQ(host.say("P 1\r\n"), "P 1\r\n12\r\n");
    // Erase, copy and go are locked until unlocked with the right code.
    EXPECT_EQ(host.say("P 1 1\r\n"), "P 1 1\r\n0\r\n");
    EXPECT_EQ(host.say("E 1 1\r\n"), "E 1 1\r\n15\r\n");
    EXPECT_EQ(host.say("C 0 1073742336 4096\r\n"), "C 0 1073742336 4096\r\n15\r\n");
    EXPECT_EQ(host.say("G 1073742336 A\r\n"), "G 1073742336 A\r\n15\r\n");
    EXPECT_EQ(host.say("U 12345\r\n"), "U 12345\r\n16\r\n");
    // The boot code version: minor, then major.
    EXPECT_EQ(host.say("K\r\n"), "K\r\n0\r\n12\r\n2\r\n");
    EXPECT_EQ(host.say("U 23130\r\n"), "U 23130\r\n0\r\n");
    EXPECT_EQ(host.say("P 0 27\r\n"), "P 0 27\r\n7\r\n");
    EXPECT_EQ(host.say("P 2 1\r\n"), "P 2 1\r\n7\r\n");
    EXPECT_EQ(host.say("E 2 2\r\n"), "E 2 2\r\n9\r\n");
    EXPECT_EQ(host.say("E 1 1\r\n"), "E 1 1\r\n0\r\n");
    // A successful erase leaves nothing prepared.
    EXPECT_EQ(host.say("E 1 1\r\n"), "E 1 1\r\n9\r\n");
    EXPECT_EQ(host.say("A 0\r\n"), "A 0\r\n0\r\n");
    EXPECT_EQ(host.say("J\r\n"), "0\r\n196389\r\n");
}

TEST(LpcBoardTest, BlankCheckReportsTheFirstUsedWordAndNeverSeesSectorZeroBlank) {
    std::vector<std::uint8_t> flash(0x2000, 0xFF);
    flash[0x1008] = 0x78;  // sector 1, offset 8
    flash[0x100B] = 0x12;
    LpcBoard board(Part("LPC2138"), WithFlash(flash));
    Host host(board);
    host.synchronise();
    EXPECT_EQ(host.say("I 2 26\r\n"), "I 2 26\r\n0\r\n");
    EXPECT_EQ(host.say("I 1 1\r\n"), "I 1 1\r\n8\r\n8\r\n318766968\r\n");
    // Sector 0 of a blank chip: the boot block's vectors show at 0x00-0x3F.
    LpcBoard blank(Part("LPC2138"));
    Host other(blank);
    other.synchronise();
    EXPECT_EQ(other.say("I 0 0\r\n"), "I 0 0\r\n8\r\n0\r\n3852464152\r\n");
}

TEST(LpcBoardTest, RamWriteChecksEveryGroupAndAsksForAResendOfABadOne) {
    LpcBoard board(Part("LPC2138"));
    Host host(board);
    host.synchronise();
    EXPECT_EQ(host.say("W 1073742337 4\r\n"), "W 1073742337 4\r\n13\r\n");
    EXPECT_EQ(host.say("W 1073742336 6\r\n"), "W 1073742336 6\r\n6\r\n");
    EXPECT_EQ(host.say("W 1073742112 4\r\n"), "W 1073742112 4\r\n14\r\n");  // loader RAM
    EXPECT_EQ(host.say("W 1073774592 4\r\n"), "W 1073774592 4\r\n14\r\n");  // past 32 KB
    EXPECT_EQ(host.say("W 1073742336 4\r\n"), "W 1073742336 4\r\n0\r\n");
    // 0x43 0x61 0x74 0x00, then a wrong sum: the group must come again.
    EXPECT_EQ(host.say("$0V%T````\r\n"), "$0V%T````\r\n");
    EXPECT_EQ(host.say("999\r\n"), "999\r\nRESEND\r\n");
    EXPECT_EQ(host.say("$0V%T````\r\n"), "$0V%T````\r\n");
    EXPECT_EQ(host.say("280\r\n"), "280\r\nOK\r\n");
    EXPECT_EQ(board.resends(), 1);
    EXPECT_EQ(board.ram()[0x200], 0x43);
    EXPECT_EQ(board.ram()[0x202], 0x74);
    EXPECT_EQ(board.ram()[0x203], 0x00);
    // Back at the command prompt.
    EXPECT_EQ(host.say("J\r\n"), "J\r\n0\r\n196389\r\n");
}

TEST(LpcBoardTest, ReadSendsUuencodedGroupsWithSumsAndRepeatsAGroupOnResend) {
    LpcBoard::Options options;
    options.flash = std::vector<std::uint8_t>(0x48, 0xFF);
    options.flash[0x40] = 0x43;
    options.flash[0x41] = 0x61;
    options.flash[0x42] = 0x74;
    options.flash[0x43] = 0x21;
    LpcBoard board(Part("LPC2138"), options);
    Host host(board);
    host.synchronise();
    EXPECT_EQ(host.say("R 65 4\r\n"), "R 65 4\r\n13\r\n");
    EXPECT_EQ(host.say("R 64 6\r\n"), "R 64 6\r\n6\r\n");
    EXPECT_EQ(host.say("R 524288 4\r\n"), "R 524288 4\r\n14\r\n");
    // 0x43 0x61 0x74 0x21: 313.
    EXPECT_EQ(host.say("R 64 4\r\n"), "R 64 4\r\n0\r\n$0V%T(0``\r\n313\r\n");
    EXPECT_EQ(host.say("RESEND\r\n"), "RESEND\r\n$0V%T(0``\r\n313\r\n");
    EXPECT_EQ(host.say("OK\r\n"), "OK\r\n");
    // The boot block's vectors hide the first 64 bytes: E59FF018, little-endian.
    EXPECT_EQ(host.say("R 0 4\r\n"), "R 0 4\r\n0\r\n$&/\"?Y0``\r\n652\r\n");
    EXPECT_EQ(host.say("OK\r\n"), "OK\r\n");
    EXPECT_EQ(host.say("J\r\n"), "J\r\n0\r\n196389\r\n");
}

TEST(LpcBoardTest, AChecksumFollowsEveryTwentyLines) {
    LpcBoard board(Part("LPC2138"));
    Host host(board);
    host.synchronise();
    EXPECT_EQ(host.say("W 1073742336 1024\r\n"), "W 1073742336 1024\r\n0\r\n");
    const std::string full = "M" + std::string(60, '_');  // 45 bytes of 0xFF
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(host.say(full + "\r\n"), full + "\r\n");
    }
    EXPECT_EQ(host.say("229500\r\n"), "229500\r\nOK\r\n");
    for (int i = 0; i < 2; ++i) {
        host.say(full + "\r\n");
    }
    // 1024 = 22 * 45 + 34
    const std::string last = "B" + std::string(45, '_') + "P``";
    EXPECT_EQ(host.say(last + "\r\n"), last + "\r\n");
    EXPECT_EQ(host.say("31620\r\n"), "31620\r\nOK\r\n");
    EXPECT_EQ(board.dataLines(), 23);
}

TEST(LpcBoardTest, CopyNeedsPreparedSectorsAndOnlyClearsBits) {
    std::vector<std::uint8_t> flash(0x1000, 0xF0);
    LpcBoard board(Part("LPC2138"), WithFlash(flash));
    Host host(board);
    host.synchronise();
    host.say("U 23130\r\n");
    host.say("W 1073742336 4\r\n");
    host.say("$#P\\/#P``\r\n");  // 0x0F 0x0F 0x0F 0x0F... first three, then 0
    host.say("60\r\n");
    EXPECT_EQ(host.say("C 0 1073742336 256\r\n"), "C 0 1073742336 256\r\n9\r\n");
    EXPECT_EQ(host.say("P 0 0\r\n"), "P 0 0\r\n0\r\n");
    EXPECT_EQ(host.say("C 128 1073742336 256\r\n"), "C 128 1073742336 256\r\n3\r\n");
    EXPECT_EQ(host.say("C 0 1073742338 256\r\n"), "C 0 1073742338 256\r\n2\r\n");
    EXPECT_EQ(host.say("C 0 1073742336 8192\r\n"), "C 0 1073742336 8192\r\n6\r\n");
    EXPECT_EQ(host.say("C 0 1073742336 4096\r\n"), "C 0 1073742336 4096\r\n0\r\n");
    // 0xF0 & 0x0F: a bit can only go from 1 to 0.
    EXPECT_EQ(board.flash()[0], 0x00);
    EXPECT_EQ(board.flash()[3], 0x00);
    EXPECT_EQ(host.say("C 0 1073742336 4096\r\n"), "C 0 1073742336 4096\r\n9\r\n");
    // The compare sees what the copy left, the boot block over the first 64
    // bytes, and names the first byte that differs by its offset.
    EXPECT_EQ(host.say("M 64 1073742400 4032\r\n"), "M 64 1073742400 4032\r\n0\r\n");
    EXPECT_EQ(host.say("M 4092 1073742396 8\r\n"), "M 4092 1073742396 8\r\n10\r\n4\r\n");
    EXPECT_EQ(host.say("M 60 1073742396 4\r\n"), "M 60 1073742396 4\r\n10\r\n0\r\n");
    EXPECT_EQ(host.say("M 2 1073742336 4\r\n"), "M 2 1073742336 4\r\n2\r\n");
    EXPECT_EQ(host.say("M 64 1073742338 4\r\n"), "M 64 1073742338 4\r\n3\r\n");
    EXPECT_EQ(host.say("M 64 1073742336 6\r\n"), "M 64 1073742336 6\r\n6\r\n");
    EXPECT_EQ(host.say("M 1048576 1073742336 4\r\n"), "M 1048576 1073742336 4\r\n4\r\n");
    EXPECT_EQ(host.say("M 64 1048576 4\r\n"), "M 64 1048576 4\r\n5\r\n");
    EXPECT_EQ(host.say("M 64 1073742336\r\n"), "M 64 1073742336\r\n12\r\n");
    // A copy across two sectors needs both prepared.
    EXPECT_EQ(host.say("P 1 1\r\n"), "P 1 1\r\n0\r\n");
    EXPECT_EQ(host.say("C 3840 1073742336 512\r\n"), "C 3840 1073742336 512\r\n9\r\n");
}

TEST(LpcBoardTest, OlderPartsCopyInLargerPages) {
    LpcBoard board(Part("LPC2106"));
    Host host(board);
    host.synchronise();
    host.say("U 23130\r\n");
    host.say("P 0 0\r\n");
    EXPECT_EQ(host.say("C 256 1073742336 512\r\n"), "C 256 1073742336 512\r\n3\r\n");
    EXPECT_EQ(host.say("C 0 1073742336 256\r\n"), "C 0 1073742336 256\r\n6\r\n");
    EXPECT_EQ(host.say("C 0 1073742336 8192\r\n"), "C 0 1073742336 8192\r\n0\r\n");
}

TEST(LpcBoardTest, FlashTimingHoldsTheAnswerAndTheUartOnlyKeepsSixteenCharacters) {
    LpcBoard board(Part("LPC2138"), WithFlashTiming());
    Host host(board);
    host.synchronise();
    host.say("U 23130\r\n");
    host.say("P 3 3\r\n");
    const VirtualNs sent = host.device().now();
    // Eighteen characters arrive during the erase: the last two are lost.
    EXPECT_EQ(host.say("E 3 3\r\nJ\r\nJ\r\nJ\r\nJ\r\nJ\r\nJ\r\n", 600),
              "E 3 3\r\n0\r\nJ\r\n0\r\n196389\r\nJ\r\n0\r\n196389\r\nJ\r\n0\r\n196389\r\nJ\r\n0\r\n"
              "196389\r\nJ\r\n0\r\n196389\r\nJ");
    EXPECT_EQ(board.overrunBytes(), 2);
    // The answer came when the erase was done.
    EXPECT_GE(host.device().now() - sent, LpcBoard::kEraseNs);
}

TEST(LpcBoardTest, GoRunsTheJumpProgramAndTheLoaderFallsSilent) {
    LpcBoard board(Part("LPC2138"));
    Host host(board);
    host.synchronise();
    host.say("U 23130\r\n");
    EXPECT_EQ(host.say("W 1073742336 24\r\n"), "W 1073742336 24\r\n0\r\n");
    EXPECT_EQ(host.say("8#`\"/X@`0D.4!`*#C``\"!Y0#PH.-`P!_@\r\n"),
              "8#`\"/X@`0D.4!`*#C``\"!Y0#PH.-`P!_@\r\n");
    EXPECT_EQ(host.say("2654\r\n"), "2654\r\nOK\r\n");
    EXPECT_EQ(host.say("G 1073742337 A\r\n"), "G 1073742337 A\r\n13\r\n");
    EXPECT_EQ(host.say("G 1073742336 X\r\n"), "G 1073742336 X\r\n12\r\n");
    EXPECT_EQ(host.say("G 1073742336 A\r\n"), "G 1073742336 A\r\n0\r\n");
    ASSERT_TRUE(board.started());
    EXPECT_TRUE(board.started()->reachedUserCode) << board.started()->fault;
    EXPECT_EQ(board.started()->memoryMap, 1u);
    EXPECT_EQ(host.say("J\r\n"), "");
}

TEST(LpcBoardTest, TheJumpProgramOfTheNewerPartsTurnsOffThePll) {
    LpcBoard board(Part("LPC2368"));
    Host host(board);
    host.synchronise();
    host.say("U 23130\r\n");
    host.say("W 1073742336 76\r\n");
    host.say("M.`\"/X@`0D.4$()#E\"#\"0Y0$`H.,``('EJD\"@XU50H.,``(+E`$\"#Y0!0@^4`\r\n");
    host.say("?`*#C``\"\"Y0!`@^4`4(/E`/\"@XT#`'^\"`P!_@C,`?X```\r\n");
    EXPECT_EQ(host.say("8704\r\n"), "8704\r\nOK\r\n");
    host.say("G 1073742336 A\r\n");
    ASSERT_TRUE(board.started());
    EXPECT_TRUE(board.started()->reachedUserCode) << board.started()->fault;
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> writes = {
        {0xE01FC040, 1}, {0xE01FC080, 1},    {0xE01FC08C, 0xAA}, {0xE01FC08C, 0x55},
        {0xE01FC080, 0}, {0xE01FC08C, 0xAA}, {0xE01FC08C, 0x55}};
    EXPECT_EQ(board.started()->registerWrites, writes);
}

TEST(LpcBoardTest, FaultsChangeOnlyWhatTheyName) {
    {
        LpcBoard board(Part("LPC2138"), WithFaults({LpcFault::Silent}));
        Host host(board);
        EXPECT_EQ(host.say("?"), "");
    }
    {
        LpcBoard board(Part("LPC2138"), WithFaults({LpcFault::NoEcho}));
        Host host(board);
        EXPECT_EQ(host.say("?"), "Synchronized\r\n");
        EXPECT_EQ(host.say("Synchronized\r\n"), "OK\r\n");
    }
    {
        LpcBoard board(Part("LPC2138"), WithFaults({LpcFault::EchoProbe}));
        Host host(board);
        EXPECT_EQ(host.say("?"), "?");
        EXPECT_EQ(host.say("Synchronized\r\n"), "Synchronized\r\n1\r\n");
    }
    {
        LpcBoard board(Part("LPC2138"), WithFaults({LpcFault::SyncGarbage}));
        Host host(board);
        EXPECT_EQ(host.say("?"), "~\x86x\xF8\r\n");
    }
    {
        LpcBoard board(Part("LPC2138"), WithFaults({LpcFault::UnknownId, LpcFault::RefuseUnlock}));
        Host host(board);
        host.synchronise();
        EXPECT_EQ(host.say("J\r\n"), "J\r\n0\r\n33685249\r\n");
        EXPECT_EQ(host.say("U 23130\r\n"), "U 23130\r\n16\r\n");
    }
    {
        LpcBoard board(Part("LPC2138"), WithFaults({LpcFault::DropByte, LpcFault::RefuseErase}));
        Host host(board);
        host.synchronise();
        host.say("U 23130\r\n");
        host.say("P 1 1\r\n");
        EXPECT_EQ(host.say("E 1 1\r\n"), "E 1 1\r\n11\r\n");
        host.say("W 1073742336 12\r\n");
        // The tenth character never arrives.
        EXPECT_EQ(host.say(",0V%T0V%T0V%T0V%T\r\n"), ",0V%T0V%TV%T0V%T\r\n");
    }
}

}  // namespace
}  // namespace korvel::sim
