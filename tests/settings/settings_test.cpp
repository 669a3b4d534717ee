#include "settings/settings.h"

#include <gtest/gtest.h>
#include <filesystem>

#include "settings/ini_file.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

class SettingsTest : public ::testing::Test {
  protected:
    std::string file() const { return dir.path("korvel.ini").string(); }
    Settings load(const std::vector<std::string>& args = {}) {
        Settings s(file());
        s.Load(args);
        return s;
    }
    test::TempDir dir;
};

TEST_F(SettingsTest, MissingFileIsCreatedWithDefaults) {
    const Settings s = load();
    EXPECT_EQ(s.LastFiles, "");
    EXPECT_EQ(s.serialPort, 1);
    EXPECT_FALSE(s.AutoRun);
    EXPECT_EQ(dir.read("korvel.ini"), "[SETTINGS]\r\nLastFiles=\r\nSerialPort=1\r\nAutoRun=0\r\n");
}

TEST_F(SettingsTest, ReadOnlySettingsNeverCreateTheFile) {
    Settings s(file(), /*readOnly=*/true);
    s.Load({});
    s.Save();
    EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(SettingsTest, SerialPortOutOfRangeOrMalformed) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"0", 1},   {"300", 1}, {"257", 1}, {"-4", 1}, {"256", 256},
        {"12", 12}, {"abc", 2}, {"7x", 2},  {"", 2},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        dir.write("korvel.ini", "[SETTINGS]\nSerialPort=" + text + "\n");
        EXPECT_EQ(load().serialPort, expected);
    }
}

TEST_F(SettingsTest, KeysAreReadCaseInsensitivelyWithDefaultsForMissingOnes) {
    dir.write("korvel.ini", "[settings]\r\nlastfiles = C:\\fw\\a.pr2 \r\nAUTORUN=5\r\n");
    const Settings s = load();
    EXPECT_EQ(s.LastFiles, "C:\\fw\\a.pr2");
    EXPECT_EQ(s.serialPort, 1);
    EXPECT_TRUE(s.AutoRun);
}

TEST_F(SettingsTest, OptionsOverrideTheFileUntilTheNextSave) {
    dir.write("korvel.ini", "[SETTINGS]\r\nLastFiles=x\r\nSerialPort=2\r\nAutoRun=0\r\n");
    const Settings s = load({"-C7", "-RRUN"});
    EXPECT_EQ(s.serialPort, 7);
    EXPECT_TRUE(s.AutoRun);
    EXPECT_NE(dir.read("korvel.ini").find("SerialPort=2"), std::string::npos);
    s.Save();
    const std::string text = dir.read("korvel.ini");
    EXPECT_NE(text.find("SerialPort=7"), std::string::npos);
    EXPECT_NE(text.find("AutoRun=1"), std::string::npos);
}

TEST_F(SettingsTest, VerifyIsWrittenOnceTickedAndReadBack) {
    dir.write("korvel.ini", "[SETTINGS]\r\nLastFiles=x\r\nSerialPort=2\r\nAutoRun=0\r\n");
    Settings s = load();
    EXPECT_FALSE(s.Verify);
    s.Save();
    EXPECT_EQ(dir.read("korvel.ini").find("Verify"), std::string::npos) << "never ticked";
    s.Verify = true;
    s.Save();
    EXPECT_NE(dir.read("korvel.ini").find("[KORVEL]\r\nVerify=1\r\n"), std::string::npos);
    EXPECT_TRUE(load().Verify);
    s.Verify = false;
    s.Save();
    EXPECT_NE(dir.read("korvel.ini").find("Verify=0\r\n"), std::string::npos);
    EXPECT_FALSE(load().Verify);
}

TEST_F(SettingsTest, CommandLineEdgeCases) {
    dir.write("korvel.ini", "[SETTINGS]\r\nSerialPort=2\r\n");
    EXPECT_FALSE(load({"-RRun", "-C4"}).AutoRun) << "RUN is compared case-sensitively";
    EXPECT_EQ(load({"-Cabc", "-X1"}).serialPort, 3) << "a port that is not a number gives 3";
    EXPECT_EQ(load({"-C999", "x"}).serialPort, 999) << "no limits on the command line";
    const Settings s = load({"-Ffw.pr2", "-Udone", "", "-", "plain"});
    EXPECT_EQ(s.LastFiles, "fw.pr2");
    EXPECT_EQ(s.unattendedExit, "done");
    EXPECT_EQ(s.serialPort, 2);
    EXPECT_EQ(load({"-F" + std::string(300, 'a'), "-Rx"}).LastFiles.size(), 256u)
        << "values are cut to 256";
}

TEST_F(SettingsTest, SingleArgumentIsThePackagePathEvenWithADash) {
    EXPECT_EQ(load({"-C5"}).LastFiles, ArgumentPackagePath("-C5"));
    EXPECT_EQ(load({"-C5"}).serialPort, 1);
    const Settings s = load({"/tmp/Fw.pr2"});
    EXPECT_EQ(s.LastFiles, ArgumentPackagePath("/tmp/Fw.pr2"));
    s.Save();
    EXPECT_NE(dir.read("korvel.ini").find("LastFiles=" + ArgumentPackagePath("/tmp/Fw.pr2")),
              std::string::npos);
}

TEST_F(SettingsTest, SaveKeepsEveryOtherLineSectionAndComment) {
    const std::string before =
        "; Korvel settings\r\n"
        "[SETTINGS]\r\n"
        "SerialPort=4\r\n"
        "Theme=dark\r\n"
        "\r\n"
        "[PORTS]\r\n"
        "COM4=/dev/ttyUSB0\r\n"
        "[KORVEL]\r\n"
        "ResetLines=dtr-rts,invert-reset\r\n";
    dir.write("korvel.ini", before);
    Settings s = load();
    EXPECT_EQ(s.resetLines, "dtr-rts,invert-reset");
    s.LastFiles = "/fw/b.pr2";
    s.Save();
    EXPECT_EQ(dir.read("korvel.ini"),
              "; Korvel settings\r\n"
              "[SETTINGS]\r\n"
              "SerialPort=4\r\n"
              "Theme=dark\r\n"
              "LastFiles=/fw/b.pr2\r\n"
              "AutoRun=0\r\n"
              "\r\n"
              "[PORTS]\r\n"
              "COM4=/dev/ttyUSB0\r\n"
              "[KORVEL]\r\n"
              "ResetLines=dtr-rts,invert-reset\r\n");
    EXPECT_EQ(s.ports.at(4), "/dev/ttyUSB0");
}

TEST_F(SettingsTest, AnotherSavesTemporaryFileIsNeitherUsedNorTouched) {
    dir.write("korvel.ini", "[SETTINGS]\r\nSerialPort=4\r\n");
    Settings s = load();
    s.serialPort = 9;
    // Another program's save, half written, under the name every save used to take.
    dir.write("korvel.ini.tmp", "[SETTINGS]\r\nSerialPo");
    s.Save();
    EXPECT_EQ(dir.read("korvel.ini"), "[SETTINGS]\r\nSerialPort=9\r\nLastFiles=\r\nAutoRun=0\r\n");
    EXPECT_EQ(dir.read("korvel.ini.tmp"), "[SETTINGS]\r\nSerialPo");
}

TEST(IniFileTest, NewKeysAndSectionsAreAppended) {
    IniFile ini("[A]\nx=1\n");
    ini.set("A", "y", "2");
    ini.set("B", "z", "\"q\"");
    EXPECT_EQ(ini.text(), "[A]\nx=1\ny=2\n[B]\nz=\"q\"\n");
    EXPECT_EQ(ini.get("b", "Z"), "q") << "one pair of enclosing quotes is dropped";
    EXPECT_EQ(ini.get("A", "missing"), std::nullopt);
    EXPECT_EQ(ini.get("C", "x"), std::nullopt);
}

}  // namespace
}  // namespace korvel
