#include "procedures/boot_monitor/boot_monitor_procedure.h"

#include <gtest/gtest.h>

#include "serial/virtual_serial_device.h"
#include "tests/support/scripted_line_end.h"

// The procedure's terminal primitives against a scripted line, in virtual time.
namespace korvel {
namespace {

constexpr VirtualNs kMs = 1'000'000;

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

class BootMonitorPrimitivesTest : public ::testing::Test {
  protected:
    BootMonitorPrimitivesTest() {
        auto device = std::make_unique<VirtualSerialDevice>(line);
        dev = device.get();
        proc = std::make_unique<BootMonitorProcedure>(std::move(device));
        EXPECT_TRUE(proc->Open());
    }
    VirtualNs elapsedSince(VirtualNs start) const { return dev->now() - start; }

    test::ScriptedLineEnd line;
    VirtualSerialDevice* dev = nullptr;
    std::unique_ptr<BootMonitorProcedure> proc;
};

TEST_F(BootMonitorPrimitivesTest, ZeroBytesNeitherEndNorSplitTheSearchedText) {
    line.send(5 * kMs, Bytes(std::string_view("\0Bu\0ild date:\0 x\0\r\n", 19)));
    EXPECT_TRUE(proc->WaitForText("Build date: x", 1000));
    EXPECT_EQ(proc->received().view(), "Build date: x");
}

TEST_F(BootMonitorPrimitivesTest, APhraseAtTheEndOfALongLineIsStillFound) {
    // Far more than the 512-byte receive buffer holds before the phrase.
    line.send(1 * kMs, Bytes(std::string(1500, 'x') + "press any key to stop\r\n"));
    ASSERT_TRUE(proc->WaitForText("\r\n", 5000));
    EXPECT_TRUE(proc->received().contains("press any key to stop"));
    EXPECT_EQ(proc->received().view().size(), RollingTextBuffer::kCapacity - 1);

    line.send(dev->now(), Bytes(std::string(900, 'y') + "successfully"));
    EXPECT_TRUE(proc->WaitForText("successfully", 5000));
}

TEST_F(BootMonitorPrimitivesTest, WaitForTextGivesUpAtItsTimeOutAndStartsEmpty) {
    line.send(1 * kMs, Bytes("Done\r\n"));
    ASSERT_TRUE(proc->WaitForText("\r\n", 100));
    const VirtualNs start = dev->now();
    EXPECT_FALSE(proc->WaitForText("Done", 5000)) << "the last wait's text must not count";
    EXPECT_GE(elapsedSince(start), 5000 * kMs);
    EXPECT_LT(elapsedSince(start), 5020 * kMs);
}

TEST_F(BootMonitorPrimitivesTest, ACompleteEchoEndsTheCommandAndLeavesTheNextLine) {
    line.responder = [this](VirtualNs at, std::uint8_t b) {
        if (b == '\r') {
            line.send(at, Bytes("nsave\r\nSaving... done\r\n> "));
        }
    };
    const VirtualNs start = dev->now();
    proc->SendCommand("nsave");
    EXPECT_EQ(std::string(line.hostBytes.begin(), line.hostBytes.end()), "nsave\r");
    EXPECT_LT(elapsedSince(start), 30 * kMs);
    EXPECT_TRUE(proc->WaitForText("Saving... done\r\n", 100)) << "echo reading took the reply";
}

TEST_F(BootMonitorPrimitivesTest, AnEchoThatNeverCompletesCostsTheEchoWaitAndIsConsumed) {
    struct Case {
        const char* name;
        std::string first;  // arrives with the command
        std::string later;  // arrives 15 ms later, after the first read
    };
    const Case cases[] = {
        {"missing", "", ""},
        {"garbled", "nsafe\r\n", ""},
        {"longer", "nnsave\r\n", ""},
        {"split", "nsa", "ve\r\n> "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        line.responder = [this, &c](VirtualNs at, std::uint8_t b) {
            if (b == '\r') {
                line.send(at, Bytes(c.first));
                line.send(at + 15 * kMs, Bytes(c.later));
            }
        };
        const VirtualNs start = dev->now();
        proc->SendCommand("nsave");
        EXPECT_GE(elapsedSince(start), 2010 * kMs);
        EXPECT_LT(elapsedSince(start), 2030 * kMs);
        EXPECT_FALSE(proc->WaitForText(">", 20)) << "bytes read for the echo came back";
    }
}

TEST_F(BootMonitorPrimitivesTest, AnEndlessEchoIsNeverStoredPastTheEchoBuffer) {
    // A board that keeps talking for the whole echo wait: 20000 characters.
    line.responder = [this](VirtualNs at, std::uint8_t b) {
        if (b == '\r') {
            line.send(at, Bytes(std::string(20000, 'e')), 100'000);
            line.send(at + 2100 * kMs, Bytes("after\r\n"));
        }
    };
    proc->SendCommand("load term raw 0x80000000");
    EXPECT_TRUE(proc->WaitForText("after\r\n", 1000));
    EXPECT_EQ(proc->received().view(), "after\r\n") << "the echo wait consumes what it reads";
}

TEST(BootMonitorPortTest, OpenReportsAPortThatCannotBeOpened) {
    test::ScriptedLineEnd line;
    VirtualSerialDevice::Options refused;
    refused.openFailure = OpenFailure{16, "Device or resource busy", false};
    BootMonitorProcedure proc(std::make_unique<VirtualSerialDevice>(line, refused));
    EXPECT_FALSE(proc.Open());
    EXPECT_FALSE(proc.port.isOpen());
}

}  // namespace
}  // namespace korvel
