// The settings file under faults: read-only, a directory in its place,
// binary garbage, 10 MB, no [SETTINGS] section, a symlink. The program starts
// with the defaults or what it could read, and a save never truncates the
// file or loses anything of the user's.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "settings/settings.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

// The text without any line ends: what a save may not lose.
std::string Content(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c != '\r' && c != '\n') {
            out.push_back(c);
        }
    }
    return out;
}

class SettingsFaultsTest : public ::testing::Test {
  protected:
    std::string file() const { return dir.path("korvel.ini").string(); }
    test::TempDir dir;
};

TEST_F(SettingsFaultsTest, AReadOnlyFileIsReadAndNeverRewritten) {
    const std::string text =
        "[SETTINGS]\r\nLastFiles=/fw/a.pr2\r\nSerialPort=5\r\nAutoRun=1\r\n[PORTS]\r\nCOM5=/dev/"
        "x\r\n";
    dir.write("korvel.ini", text);
    fs::permissions(file(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    Settings s(file());
    s.Load({});
    EXPECT_EQ(s.LastFiles, "/fw/a.pr2");
    EXPECT_EQ(s.serialPort, 5);
    EXPECT_TRUE(s.AutoRun);
    s.serialPort = 9;
    s.Save();
    EXPECT_EQ(dir.read("korvel.ini"), text);
    EXPECT_EQ(fs::status(file()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_FALSE(fs::exists(file() + ".tmp"));
}

TEST_F(SettingsFaultsTest, ADirectoryInPlaceOfTheFileGivesTheDefaultsAndStaysADirectory) {
    fs::create_directory(file());
    dir.write("korvel.ini/keep", "x");
    Settings s(file());
    s.Load({"-C4", "-RRUN"});
    EXPECT_EQ(s.LastFiles, "");
    EXPECT_EQ(s.serialPort, 4);
    EXPECT_TRUE(s.AutoRun);
    s.Save();
    EXPECT_TRUE(fs::is_directory(file()));
    EXPECT_EQ(dir.read("korvel.ini/keep"), "x");
    EXPECT_FALSE(fs::exists(file() + ".tmp"));
}

TEST_F(SettingsFaultsTest, BinaryGarbageGivesTheDefaultsAndASaveKeepsEveryByteOfIt) {
    std::mt19937 random(17);
    std::string garbage(64 * 1024, '\0');
    for (char& c : garbage) {
        c = static_cast<char>(random());
    }
    dir.write("korvel.ini", garbage);
    Settings s(file());
    s.Load({});
    EXPECT_GE(s.serialPort, 1);
    EXPECT_LE(s.serialPort, Settings::kMaxPort);
    s.LastFiles = "/fw/b.pr2";
    s.Save();
    const std::string saved = dir.read("korvel.ini");
    // The garbage, then the settings section the save added.
    EXPECT_EQ(Content(saved).substr(0, Content(garbage).size()), Content(garbage));
    EXPECT_NE(saved.find("LastFiles=/fw/b.pr2"), std::string::npos);
    Settings again(file());
    again.Load({});
    EXPECT_EQ(again.LastFiles, "/fw/b.pr2");
}

TEST_F(SettingsFaultsTest, ATenMegabyteSectionIsReadAndSavedWhole) {
    std::string text = "[SETTINGS]\r\nSerialPort=7\r\n";
    text.reserve(11u << 20);
    for (int i = 0; text.size() < (10u << 20); ++i) {
        text += "Key" + std::to_string(i) + "=some value the program does not know\r\n";
    }
    text += "AutoRun=1\r\nLastFiles=/fw/c.pr2\r\n[PORTS]\r\nCOM7=/dev/ttyUSB3\r\n";
    dir.write("korvel.ini", text);
    Settings s(file());
    s.Load({});
    EXPECT_EQ(s.serialPort, 7);
    EXPECT_TRUE(s.AutoRun);
    EXPECT_EQ(s.LastFiles, "/fw/c.pr2");
    EXPECT_EQ(s.ports.at(7), "/dev/ttyUSB3");
    s.serialPort = 8;
    s.Save();
    std::string expected = text;
    expected.replace(expected.find("SerialPort=7"), 12, "SerialPort=8");
    EXPECT_TRUE(dir.read("korvel.ini") == expected) << "the saved file differs";
}

TEST_F(SettingsFaultsTest, AFileWithoutTheSectionGivesTheDefaultsAndKeepsTheOthers) {
    const std::string text = "; station 4\r\n[PORTS]\r\nCOM2=/dev/ttyUSB0\r\n[OTHER]\r\nx=1\r\n";
    dir.write("korvel.ini", text);
    Settings s(file());
    s.Load({});
    EXPECT_EQ(s.LastFiles, "");
    EXPECT_EQ(s.serialPort, 1);
    EXPECT_FALSE(s.AutoRun);
    EXPECT_EQ(s.ports.at(2), "/dev/ttyUSB0");
    s.Save();
    EXPECT_EQ(dir.read("korvel.ini"),
              text + "[SETTINGS]\r\nLastFiles=\r\nSerialPort=1\r\nAutoRun=0\r\n");
}

TEST_F(SettingsFaultsTest, WhatAnEarlierSaveLeftInTheTemporarysPlaceNeitherBlocksNorIsTouched) {
    const std::string text = "[SETTINGS]\r\nSerialPort=3\r\n[OTHER]\r\nx=1\r\n";
    dir.write("korvel.ini", text);
    fs::create_directory(file() + ".tmp");
    dir.write("korvel.ini.tmp/keep", "x");
    Settings s(file());
    s.Load({});
    s.serialPort = 4;
    s.Save();
    EXPECT_EQ(dir.read("korvel.ini"),
              "[SETTINGS]\r\nSerialPort=4\r\nLastFiles=\r\nAutoRun=0\r\n[OTHER]\r\nx=1\r\n");
    EXPECT_EQ(dir.read("korvel.ini.tmp/keep"), "x");
}

}  // namespace
}  // namespace korvel
