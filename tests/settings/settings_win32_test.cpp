// Settings on Windows: the file beside the executable where its folder takes
// new files, else in %APPDATA%\Korvel; package paths upper-cased.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "settings/settings.h"
#include "settings/settings_location.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

TEST(SettingsWin32Test, AProgramInAFolderItCanWriteKeepsItsSettingsBesideIt) {
    const std::filesystem::path exe = ExecutablePath();
    ASSERT_TRUE(exe.is_absolute()) << exe.string();
    EXPECT_EQ(exe.filename().string(), "korvel_tests.exe");
    EXPECT_TRUE(std::filesystem::exists(exe));
    EXPECT_EQ(std::filesystem::path(DefaultSettingsFile()), exe.parent_path() / "korvel.ini");
}

TEST(SettingsWin32Test, TheUsersFolderIsAppDataKorvelAndTheWriteProbeLeavesNothing) {
    const char* appData = std::getenv("APPDATA");
    ASSERT_NE(appData, nullptr);
    EXPECT_EQ(UserSettingsFolder(), std::filesystem::path(appData) / "Korvel");

    test::TempDir dir;
    EXPECT_TRUE(DirectoryTakesNewFiles(dir.path("")));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path(""))) << "the probe file stayed";
    EXPECT_FALSE(DirectoryTakesNewFiles(dir.path("missing")));
}

TEST(SettingsWin32Test, SinglePackageArgumentIsStoredUpperCased) {
    test::TempDir dir;
    Settings s(dir.path("korvel.ini").string());
    s.Load({R"(c:\Firmware\blinky-lpc2138.pr2)"});
    EXPECT_EQ(s.LastFiles, R"(C:\FIRMWARE\BLINKY-LPC2138.PR2)");
    s.Save();
    EXPECT_NE(dir.read("korvel.ini").find(R"(LastFiles=C:\FIRMWARE\BLINKY-LPC2138.PR2)"),
              std::string::npos);
    // Saving again replaces the file that is there.
    s.serialPort = 7;
    s.Save();
    EXPECT_NE(dir.read("korvel.ini").find("SerialPort=7\r\n"), std::string::npos);
}

}  // namespace
}  // namespace korvel
