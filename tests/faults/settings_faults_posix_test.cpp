// The settings file under faults that only POSIX file systems make: a save
// keeps the file's permissions and writes through a symbolic link; a link
// loop gives the defaults and is left alone.
#include <gtest/gtest.h>

#include <filesystem>

#include "settings/settings.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

class SettingsFaultsPosixTest : public ::testing::Test {
  protected:
    std::string file() const { return dir.path("korvel.ini").string(); }
    test::TempDir dir;
};

TEST_F(SettingsFaultsPosixTest, ASaveKeepsTheFilesPermissions) {
    dir.write("korvel.ini", "[SETTINGS]\r\nSerialPort=5\r\n");
    fs::permissions(file(), fs::perms::owner_read | fs::perms::owner_write);
    Settings s(file());
    s.Load({});
    s.SerialPort = 6;
    s.Save();
    EXPECT_NE(dir.read("korvel.ini").find("SerialPort=6"), std::string::npos);
    EXPECT_EQ(fs::status(file()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(SettingsFaultsPosixTest, ASymlinkedFileIsSavedThroughTheLink) {
    fs::create_directory(dir.path("shared"));
    dir.write("shared/station.ini", "[SETTINGS]\r\nSerialPort=3\r\n[PORTS]\r\nCOM3=/dev/x\r\n");
    fs::create_symlink(dir.path("shared/station.ini"), file());
    Settings s(file());
    s.Load({});
    EXPECT_EQ(s.SerialPort, 3);
    s.SerialPort = 5;
    s.Save();
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(
        dir.read("shared/station.ini"),
        "[SETTINGS]\r\nSerialPort=5\r\nLastFiles=\r\nAutoRun=0\r\n[PORTS]\r\nCOM3=/dev/x\r\n");
}

TEST_F(SettingsFaultsPosixTest, ASymlinkLoopGivesTheDefaultsAndIsLeftAlone) {
    fs::create_symlink(file(), file());
    Settings s(file());
    EXPECT_NO_THROW(s.Load({"-C6", "-U1"}));
    EXPECT_EQ(s.SerialPort, 6);
    EXPECT_EQ(s.LastFiles, "");
    EXPECT_NO_THROW(s.Save());
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(fs::read_symlink(file()), fs::path(file()));
}

}  // namespace
}  // namespace korvel
