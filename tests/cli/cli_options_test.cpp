#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/station_program.h"

#include "package/printable_text.h"

namespace korvel::cli {
namespace {

std::optional<CliOptions> Parse(std::vector<std::string> args, std::string* error = nullptr) {
    std::string e;
    auto r = ParseCliOptions(args, e);
    if (error != nullptr)
        *error = e;
    return r;
}

TEST(CliOptionsTest, PortTakesComNameNumberOrDevicePath) {
    struct Case {
        std::vector<std::string> args;
        std::optional<int> portNumber;
        std::string devicePath;
        std::optional<int> baudRate;
    };
    const Case cases[] = {
        {{"program", "fw.pr2", "--port", "COM12", "--baud", "19200"}, 12, "", 19200},
        {{"program", "--port", "3", "fw.pr2"}, 3, "", std::nullopt},
        {{"program", "fw.pr2", "--port", "/dev/ttyUSB0"},
         std::nullopt,
         "/dev/ttyUSB0",
         std::nullopt},
        {{"program", "fw.pr2"}, std::nullopt, "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const auto o = Parse(c.args);
        ASSERT_TRUE(o);
        EXPECT_EQ(o->command, CliOptions::Command::Program);
        EXPECT_EQ(o->package, "fw.pr2");
        EXPECT_EQ(o->portNumber, c.portNumber);
        EXPECT_EQ(o->devicePath, c.devicePath);
        EXPECT_EQ(o->baudRate, c.baudRate);
        EXPECT_FALSE(o->resetLines) << "the settings file decides";
    }
    const auto wired = Parse({"program", "fw.pr2", "--reset-lines", "dtr-rts,invert-boot"});
    ASSERT_TRUE(wired);
    ASSERT_TRUE(wired->resetLines);
    EXPECT_TRUE(wired->resetLines->driven);
    EXPECT_TRUE(wired->resetLines->invertBootSelect);
}

TEST(CliOptionsTest, UsageErrorsSayWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        const char* said;  // part of the error text
    };
    const Case cases[] = {
        {{"program"}, "package"},
        {{"program", "a.pr2", "--port"}, "--port"},
        {{"program", "a.pr2", "--port", "COMX"}, "COMX"},
        {{"program", "a.pr2", "--port", "0"}, "--port"},
        {{"program", "a.pr2", "--baud", "-5"}, "-5"},
        {{"program", "a.pr2", "b.pr2"}, "b.pr2"},
        {{"flash", "a.pr2"}, "flash"},
        {{"info", "a.pr2", "--baud", "9600"}, "--baud"},
        {{"ports", "x"}, "x"},
        {{"info", "--version"}, "--version"},
        {{"program", "a.pr2", "--record"}, "--record"},
        {{"program", "a.pr2", "--reset-lines", "rts-dtr"}, "rts-dtr"},
        {{"program", "a.pr2", "--reset-lines"}, "--reset-lines"},
        {{"info", "a.pr2", "--reset-lines", "none"}, "--reset-lines"},
        {{"info", "a.pr2", "--json"}, "--json"},
        {{"program", "a.pr2", "--port", "usb:403:6001"}, "usb:403:6001"},
        {{"program", "a.pr2", "--port", "usb:0403:6001:"}, "usb:0403:6001:"},
        // A run without the record it was asked for would prove nothing.
        {{"program", "a.pr2", "--record", ""}, "--record"},
        // What the user typed comes back escaped, never as terminal controls.
        {{"program", "a.pr2", "--port", "\x1b[2J\r"}, "'\\x1B[2J\\x0D'"},
        {{"program", "a.pr2", "--baud", "9600\n"}, "'9600\\x0A'"},
        {{"program", "a.pr2", "--verify\x07"}, "'--verify\\x07'"},
        {{"program", "a.pr2", "--verify=fast\x07"}, "'fast\\x07'"},
        {{"info", "a.pr2", "--verify"}, "--verify"},
        {{"identify", "a.pr2"}, "a.pr2"},
        {{"program", "a.pr2", "--expect-sha256", "abc"}, "'abc'"},
        {{"program", "a.pr2", "--board-ids", "ids.txt"}, "'ids.txt'"},
        {{"program", "a.pr2", "--board-id", ""}, "--board-id"},
        {{"program", "a.pr2", "--port", "1", "--port", "2", "--board-id", "A7"}, "--board-ids -"},
        {{"program", "a.pr2", "--board-id", "A7", "--board-ids", "-"}, "--board-ids -"},
        {{"identify", "--port", "1", "--port", "2"}, "one --port"},
        {{"identify", "--verify"}, "--verify"},
        {{"program", "a.pr2", "--reset-lines", "dtr-rts,hold=\x9b"}, "\\x9B"},
        {{"program", "a.pr2", "--board-id", "7", "--serial", "0x1F00"}, "AT:FORMAT"},
        {{"program", "a.pr2", "--board-id", "7", "--serial", "0x:u32le"}, "'0x'"},
        {{"program", "a.pr2", "--board-id", "7", "--serial", "0x100000000:u32le"}, "4 GiB"},
        {{"program", "a.pr2", "--board-id", "7", "--serial", "64:u64"}, "'u64'"},
        {{"program", "a.pr2", "--board-id", "7", "--serial", "64:ascii:0"}, "ascii:N"},
        {{"program", "a.pr2", "--board-id", "7", "--serial", "64:ascii:21"}, "1 to 20"},
        {{"program", "a.pr2", "--serial-counter", "n.txt"}, "needs --serial"},
        {{"program", "a.pr2", "--serial", "64:u32le"}, "--serial-counter FILE"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(Parse(c.args, &error)) << c.said;
        EXPECT_NE(error.find(c.said), std::string::npos) << error;
        EXPECT_EQ(PrintableText(error), error) << "raw control characters in " << error;
    }
}

TEST(CliOptionsTest, SerialNumbersGoAtAnAddressInAFormat) {
    struct Case {
        std::string place;
        std::uint32_t at;
        std::uint64_t number;
        std::vector<std::uint8_t> bytes;  // empty: the format cannot hold the number
    };
    const Case cases[] = {
        {"0x1F00:u32le", 0x1F00, 0x01020304, {4, 3, 2, 1}},
        {"7936:u32be", 0x1F00, 0x01020304, {1, 2, 3, 4}},
        {"0X1f00:u32le", 0x1F00, 0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"64:u32le", 64, 0x100000000, {}},
        {"64:ascii:6", 64, 42, {'0', '0', '0', '0', '4', '2'}},
        {"64:ascii:2", 64, 100, {}},
        {"64:ascii:20", 64, UINT64_MAX, {'1', '8', '4', '4', '6', '7', '4', '4', '0', '7',
                                         '3', '7', '0', '9', '5', '5', '1', '6', '1', '5'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.place);
        const auto o = Parse({"program", "a.pr2", "--serial", c.place, "--serial-counter", "n"});
        ASSERT_TRUE(o);
        ASSERT_TRUE(o->serial);
        EXPECT_EQ(o->serial->at, c.at);
        EXPECT_EQ(o->serialCounter, "n");
        EXPECT_EQ(SerialBytes(*o->serial, c.number), c.bytes);
    }
}

TEST(CliOptionsTest, SeveralPortsProgramAStationAndNoPortTwice) {
    auto o = Parse({"program", "fw.pr2", "--port", "COM3", "--port", "/dev/ttyUSB0", "--port",
                    "usb:0403:6001:A1B2", "--json", "--record", "line.jsonl", "--verify"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->ports, (std::vector<std::string>{"COM3", "/dev/ttyUSB0", "usb:0403:6001:A1B2"}));
    EXPECT_TRUE(o->json);
    EXPECT_EQ(o->verify, VerifyMode::Compare);
    EXPECT_EQ(o->recordFile, "line.jsonl");
    EXPECT_TRUE(o->station());
    const auto one = Parse({"program", "fw.pr2", "--port", "COM3"});
    ASSERT_TRUE(one);
    EXPECT_FALSE(one->station());
    EXPECT_EQ(one->verify, VerifyMode::None);
    const auto readback = Parse({"program", "fw.pr2", "--verify=readback"});
    ASSERT_TRUE(readback);
    EXPECT_EQ(readback->verify, VerifyMode::Readback);
    EXPECT_TRUE(readback->station());
    const auto two = Parse({"program", "fw.pr2", "--port", "1", "--port", "2"});
    ASSERT_TRUE(two);
    EXPECT_TRUE(two->station());

    // The same port however it is spelt.
    const std::vector<std::vector<std::string>> twice = {
        {"COM3", "3"},
        {"com3", "COM3"},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"usb:0403:6001", "usb:0403:6001"},
        {"usb:04d8:000a:A1", "usb:04D8:000A:A1"},
    };
    for (const auto& pair : twice) {
        std::string error;
        EXPECT_FALSE(Parse({"program", "fw.pr2", "--port", pair[0], "--port", pair[1]}, &error))
            << pair[0] << " " << pair[1];
        EXPECT_NE(error.find("given twice"), std::string::npos) << error;
    }
    EXPECT_TRUE(
        Parse({"program", "fw.pr2", "--port", "usb:0403:6001:A", "--port", "usb:0403:6001:B"}));
    EXPECT_EQ(PortNumber("com7"), 7);
    EXPECT_FALSE(PortNumber("/dev/ttyS0"));
}

TEST(CliOptionsTest, HelpAndListingCommands) {
    struct Case {
        std::vector<std::string> args;
        CliOptions::Command command;
        std::string package;
    };
    const Case cases[] = {
        {{}, CliOptions::Command::Help, ""},
        {{"--help"}, CliOptions::Command::Help, ""},
        {{"program", "--help"}, CliOptions::Command::Help, ""},
        {{"ports"}, CliOptions::Command::Ports, ""},
        {{"--version"}, CliOptions::Command::Version, ""},
        {{"info", "a.pr2"}, CliOptions::Command::Info, "a.pr2"},
    };
    for (const Case& c : cases) {
        const auto o = Parse(c.args);
        ASSERT_TRUE(o) << ::testing::PrintToString(c.args);
        EXPECT_EQ(o->command, c.command);
        EXPECT_EQ(o->package, c.package);
    }
    EXPECT_NE(UsageText().find("Exit codes"), std::string::npos);
    EXPECT_NE(UsageText().find("(default 38400)"), std::string::npos);
}

TEST(CliOptionsTest, BoardIdsAreOneLinePerPortInPortOrderOrNoBoardStarts) {
    struct Case {
        const char* input;
        std::vector<std::string> ids;  // empty: refused
        const char* said;              // part of the error
    };
    const Case cases[] = {
        {"A-1\nA-2\r\nA-3\nextra\n", {"A-1", "A-2", "A-3"}, ""},
        {"A-1\nA-2", {}, "before the board id for COM3"},
        {"A-1\n\nA-3\n", {}, "empty board id for COM2"},
        {"", {}, "before the board id for COM1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        std::vector<RunPort> ports = {{"COM1", 1, ""}, {"COM2", 2, ""}, {"COM3", 3, ""}};
        std::istringstream in(c.input);
        std::string error;
        EXPECT_EQ(ReadBoardIds(in, nullptr, ports, error), !c.ids.empty());
        EXPECT_NE(error.find(c.said), std::string::npos) << error;
        if (!c.ids.empty()) {
            EXPECT_EQ(
                (std::vector<std::string>{ports[0].boardId, ports[1].boardId, ports[2].boardId}),
                c.ids);
        }
    }
    const auto parsed =
        Parse({"program", "fw.pr2", "--port", "1", "--port", "2", "--board-ids", "-"});
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->boardIdsFromInput);
    const auto one = Parse({"program", "fw.pr2", "--board-id", "LBL 0042"});
    ASSERT_TRUE(one);
    EXPECT_EQ(one->boardId, "LBL 0042");
}

}  // namespace
}  // namespace korvel::cli
