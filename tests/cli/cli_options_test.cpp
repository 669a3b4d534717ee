#include "cli/cli_options.h"

#include <gtest/gtest.h>

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
    auto o = Parse({"program", "fw.pr2", "--port", "COM12", "--baud", "19200"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->command, CliOptions::Command::Program);
    EXPECT_EQ(o->package, "fw.pr2");
    EXPECT_EQ(o->portNumber, 12);
    EXPECT_EQ(o->baudRate, 19200);
    EXPECT_EQ(Parse({"program", "--port", "3", "fw.pr2"})->portNumber, 3);
    o = Parse({"program", "fw.pr2", "--port", "/dev/ttyUSB0"});
    EXPECT_EQ(o->devicePath, "/dev/ttyUSB0");
    EXPECT_FALSE(o->portNumber);
}

TEST(CliOptionsTest, UsageErrorsSayWhatIsWrong) {
    std::string error;
    EXPECT_FALSE(Parse({"program"}, &error));
    EXPECT_NE(error.find("package"), std::string::npos);
    EXPECT_FALSE(Parse({"program", "a.pr2", "--port"}, &error));
    EXPECT_NE(error.find("--port"), std::string::npos);
    EXPECT_FALSE(Parse({"program", "a.pr2", "--port", "COMX"}, &error));
    EXPECT_FALSE(Parse({"program", "a.pr2", "--port", "0"}, &error));
    EXPECT_FALSE(Parse({"program", "a.pr2", "--baud", "-5"}, &error));
    EXPECT_FALSE(Parse({"program", "a.pr2", "b.pr2"}, &error));
    EXPECT_FALSE(Parse({"flash", "a.pr2"}, &error));
    EXPECT_FALSE(Parse({"info", "a.pr2", "--baud", "9600"}, &error));
    EXPECT_FALSE(Parse({"ports", "x"}, &error));
    EXPECT_FALSE(Parse({"program", "a.pr2", "--record"}, &error));
    EXPECT_FALSE(Parse({"info", "a.pr2", "--json"}, &error));
    EXPECT_FALSE(Parse({"program", "a.pr2", "--port", "usb:403:6001"}, &error));
    EXPECT_FALSE(Parse({"program", "a.pr2", "--port", "usb:0403:6001:"}, &error));
}

TEST(CliOptionsTest, SeveralPortsProgramAStationAndNoPortTwice) {
    auto o = Parse({"program", "fw.pr2", "--port", "COM3", "--port", "/dev/ttyUSB0", "--port",
                    "usb:0403:6001:A1B2", "--json", "--record", "line.jsonl", "--verify"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->ports, (std::vector<std::string>{"COM3", "/dev/ttyUSB0", "usb:0403:6001:A1B2"}));
    EXPECT_TRUE(o->json);
    EXPECT_TRUE(o->verify);
    EXPECT_EQ(o->recordFile, "line.jsonl");
    EXPECT_TRUE(o->station());
    EXPECT_FALSE(Parse({"program", "fw.pr2", "--port", "COM3"})->station());
    EXPECT_TRUE(Parse({"program", "fw.pr2", "--port", "1", "--port", "2"})->station());

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
    EXPECT_EQ(Parse({})->command, CliOptions::Command::Help);
    EXPECT_EQ(Parse({"--help"})->command, CliOptions::Command::Help);
    EXPECT_EQ(Parse({"program", "--help"})->command, CliOptions::Command::Help);
    EXPECT_EQ(Parse({"ports"})->command, CliOptions::Command::Ports);
    EXPECT_EQ(Parse({"--version"})->command, CliOptions::Command::Version);
    std::string error;
    EXPECT_FALSE(Parse({"info", "--version"}, &error)) << "only as the command";
    EXPECT_EQ(Parse({"info", "a.pr2"})->package, "a.pr2");
    EXPECT_NE(UsageText().find("Exit codes"), std::string::npos);
}

}  // namespace
}  // namespace korvel::cli
