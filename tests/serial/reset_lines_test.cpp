// The reset-line setting and the sequence it drives on DTR and RTS, checked
// on the virtual line's log of every modem-line change.
#include "serial/reset_lines.h"

#include <gtest/gtest.h>

#include "serial/serial_port.h"
#include "serial/virtual_serial_device.h"
#include "tests/support/scripted_line_end.h"

namespace korvel {
namespace {

constexpr VirtualNs kMs = 1'000'000;
using Kind = WireEvent::Kind;

TEST(ResetLinesTest, SettingTextsAndWhatTheyMean) {
    struct Case {
        const char* text;
        std::optional<ResetLines> expected;
    };
    auto driven = [](bool invertReset, bool invertBoot, unsigned hold, unsigned settle) {
        return ResetLines{true, invertReset, invertBoot, hold, settle};
    };
    const Case cases[] = {
        {"none", ResetLines{}},
        {"dtr-rts", driven(false, false, 100, 100)},
        {"dtr-rts,invert-reset", driven(true, false, 100, 100)},
        {"dtr-rts,invert-boot,invert-reset", driven(true, true, 100, 100)},
        {"dtr-rts,hold=20,settle=0", driven(false, false, 20, 0)},
        {"dtr-rts,settle=10000", driven(false, false, 100, 10000)},
        {"", std::nullopt},
        {"None", std::nullopt},
        {"rts-dtr", std::nullopt},
        {"dtr-rts,", std::nullopt},
        {"dtr-rtsx", std::nullopt},
        {"dtr-rts;invert-reset", std::nullopt},
        {"dtr-rts,invert", std::nullopt},
        {"dtr-rts,hold=", std::nullopt},
        {"dtr-rts,hold=-5", std::nullopt},
        {"dtr-rts,hold=10001", std::nullopt},
        {"dtr-rts,settle=99999999999999999999", std::nullopt},
        {"none,invert-reset", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_EQ(ParseResetLines(c.text, error), c.expected);
        EXPECT_EQ(error.empty(), c.expected.has_value()) << error;
        // What the options dialog writes reads back as the same wiring.
        if (c.expected) {
            EXPECT_EQ(ParseResetLines(FormatResetLines(*c.expected), error), c.expected);
        }
    }
    EXPECT_EQ(FormatResetLines(ResetLines{}), "none");
    EXPECT_EQ(FormatResetLines(driven(true, true, 20, 0)),
              "dtr-rts,invert-reset,invert-boot,hold=20,settle=0");
}

// The modem-line changes of the log, in order, with their times.
std::vector<std::pair<Kind, VirtualNs>> LineChanges(const std::vector<WireEvent>& wire) {
    std::vector<std::pair<Kind, VirtualNs>> changes;
    for (const WireEvent& e : wire) {
        if (e.isModemLineChange()) {
            changes.emplace_back(e.kind, e.at);
        }
    }
    return changes;
}

TEST(ResetLinesTest, RunHoldsBootSelectPulsesResetAndAtTheEndStartsTheFirmware) {
    // A pause of n ms lasts n + 2 on the 2 ms sleep grid.
    constexpr VirtualNs kHold = 52 * kMs;
    constexpr VirtualNs kSettle = 22 * kMs;
    struct Case {
        const char* text;
        std::vector<std::pair<Kind, VirtualNs>> expected;
    };
    const Case cases[] = {
        {"dtr-rts,hold=50,settle=20",
         {{Kind::DtrOn, 0},
          {Kind::RtsOn, 0},
          {Kind::DtrOff, kHold},
          // the host's "?" and its answer lie between
          {Kind::DtrOn, kHold + kSettle + 10 * kMs},
          {Kind::RtsOff, kHold + kSettle + 10 * kMs},
          {Kind::DtrOff, 2 * kHold + kSettle + 10 * kMs}}},
        // An inverted line is active while the pin it drives is released.
        {"dtr-rts,hold=50,settle=20,invert-reset,invert-boot",
         {{Kind::DtrOn, kHold},
          {Kind::DtrOff, kHold + kSettle + 10 * kMs},
          {Kind::RtsOn, kHold + kSettle + 10 * kMs},
          {Kind::DtrOn, 2 * kHold + kSettle + 10 * kMs}}},
        {"none", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const auto lines = ParseResetLines(c.text, error);
        ASSERT_TRUE(lines) << error;
        std::vector<WireEvent> wire;
        VirtualSerialDevice::Options options;
        options.wireLog = &wire;
        options.paced = false;
        test::ScriptedLineEnd board;
        auto device = std::make_unique<VirtualSerialDevice>(board, options);
        VirtualSerialDevice& line = *device;
        SerialPort port(std::move(device), 115200, 0x00);
        ASSERT_TRUE(port.open());

        ResetIntoBootLoader(port, *lines);
        const VirtualNs talkFrom = line.now();
        const std::uint8_t probe = '?';
        port.write(&probe, 1);
        board.send(talkFrom + 10 * kMs, {'S'});
        std::uint8_t answer = 0;
        ASSERT_EQ(port.readWithin(&answer, 1, 100), 1);
        ResetIntoFirmware(port, *lines);

        EXPECT_EQ(LineChanges(wire), c.expected);
        ASSERT_EQ(board.hostTimes.size(), 1u);
        EXPECT_EQ(board.hostTimes[0], lines->driven ? kHold + kSettle : 0)
            << "the first byte only once the boot loader has started";
    }
}

}  // namespace
}  // namespace korvel
