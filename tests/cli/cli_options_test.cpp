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
    ASSERT_TRUE(o);
    EXPECT_EQ(o->devicePath, "/dev/ttyUSB0");
    EXPECT_FALSE(o->portNumber);
    EXPECT_FALSE(o->resetLines) << "the settings file decides";
    o = Parse({"program", "fw.pr2", "--reset-lines", "dtr-rts,invert-boot"});
    ASSERT_TRUE(o);
    ASSERT_TRUE(o->resetLines);
    EXPECT_TRUE(o->resetLines->driven);
    EXPECT_TRUE(o->resetLines->invertBootSelect);
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
    EXPECT_FALSE(Parse({"program", "a.pr2", "--reset-lines", "rts-dtr"}, &error));
    EXPECT_NE(error.find("rts-dtr"), std::string::npos);
    EXPECT_FALSE(Parse({"program", "a.pr2", "--reset-lines"}, &error));
    EXPECT_FALSE(Parse({"info", "a.pr2", "--reset-lines", "none"}, &error));
    EXPECT_FALSE(Parse({"ports", "x"}, &error));
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
