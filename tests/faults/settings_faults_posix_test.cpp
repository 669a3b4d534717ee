// The settings file under faults that only POSIX file systems make: a save
// keeps the file's permissions and writes through a symbolic link; a link
// loop gives the defaults and is left alone; a save never loses the file.
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

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
    s.serialPort = 6;
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
    EXPECT_EQ(s.serialPort, 3);
    s.serialPort = 5;
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
    EXPECT_EQ(s.serialPort, 6);
    EXPECT_EQ(s.LastFiles, "");
    EXPECT_NO_THROW(s.Save());
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(fs::read_symlink(file()), fs::path(file()));
}

// Runs file accesses as an ordinary user: as root every permission check
// passes, and a file that others cannot read would read fine. Changing the
// file-system user id from 0 drops the override capabilities for this thread.
class AsOrdinaryUser {
  public:
    AsOrdinaryUser() {
        if (::geteuid() == 0) {
            ::setfsuid(kNobody);
            ::setfsgid(kNobody);
        }
    }
    ~AsOrdinaryUser() {
        if (::geteuid() == 0) {
            ::setfsuid(0);
            ::setfsgid(0);
        }
    }
    AsOrdinaryUser(const AsOrdinaryUser&) = delete;
    AsOrdinaryUser& operator=(const AsOrdinaryUser&) = delete;

  private:
    static constexpr uid_t kNobody = 65534;
};

TEST_F(SettingsFaultsPosixTest, ASaveNeverLosesTheFile) {
    const std::string kText =
        "[SETTINGS]\nLastFiles=/fw/a.pr2\nSerialPort=3\n[PORTS]\nCOM3=/dev/x\n";
    struct Case {
        const char* name;
        // Prepares the folder; returns the settings file to save.
        std::function<std::string(test::TempDir&)> prepare;
        std::string lastFiles;
        // The file after the save; empty: exactly as it was.
        std::string expected;
        // The same file (inode) afterwards, not a replacement.
        bool sameFile;
    };
    const std::vector<Case> cases = {
        {"unreadable file: not rewritten from the defaults",
         [&](test::TempDir& d) {
             const auto f = d.write("korvel.ini", kText);
             fs::permissions(
                 f, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write);
             return f;
         },
         "/fw/b.pr2", "", true},
        {"read-only folder, writable file: written in place",
         [&](test::TempDir& d) {
             fs::create_directory(d.path("ro"));
             const auto f = d.write("ro/korvel.ini", kText);
             fs::permissions(f, fs::perms::owner_read | fs::perms::owner_write |
                                    fs::perms::group_read | fs::perms::group_write |
                                    fs::perms::others_read | fs::perms::others_write);
             fs::permissions(d.path("ro"), fs::perms::owner_read | fs::perms::owner_exec |
                                               fs::perms::group_read | fs::perms::group_exec |
                                               fs::perms::others_read | fs::perms::others_exec);
             return f;
         },
         "/fw/b.pr2",
         "[SETTINGS]\nLastFiles=/fw/b.pr2\nSerialPort=4\nAutoRun=0\n[PORTS]\nCOM3=/dev/x\n", true},
        {"a link where the old temporary file went is neither followed nor removed",
         [&](test::TempDir& d) {
             d.write("victim", "keep");
             fs::create_symlink(d.path("victim"), d.path("korvel.ini.tmp"));
             return d.write("korvel.ini", kText);
         },
         "/fw/b.pr2",
         "[SETTINGS]\nLastFiles=/fw/b.pr2\nSerialPort=4\nAutoRun=0\n[PORTS]\nCOM3=/dev/x\n", false},
        {"a line end in a value cannot plant keys or sections",
         [&](test::TempDir& d) { return d.write("korvel.ini", kText); },
         "/fw/c.pr2\r\n[PORTS]\r\nCOM1=/dev/evil\nAutoRun=1",
         "[SETTINGS]\nLastFiles=\nSerialPort=4\nAutoRun=0\n[PORTS]\nCOM3=/dev/x\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir d;
        // Anyone may add files here: a save that can make its temporary file does.
        fs::permissions(d.path(""), fs::perms::all);
        const std::string file = c.prepare(d);
        const auto permissions = fs::status(file).permissions();
        struct stat before {};
        ASSERT_EQ(::stat(file.c_str(), &before), 0);
        {
            AsOrdinaryUser ordinary;
            Settings s(file);
            s.Load({});
            s.LastFiles = c.lastFiles;
            s.serialPort = 4;
            s.Save();
        }
        EXPECT_EQ(fs::status(file).permissions(), permissions);
        struct stat after {};
        ASSERT_EQ(::stat(file.c_str(), &after), 0);
        if (c.sameFile) {
            EXPECT_EQ(after.st_ino, before.st_ino);
        }
        fs::permissions(file, fs::perms::owner_read, fs::perm_options::add);
        std::ifstream in(file, std::ios::binary);
        const std::string saved{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(saved, c.expected.empty() ? kText : c.expected);
        if (fs::exists(d.path("victim"))) {
            EXPECT_EQ(d.read("victim"), "keep");
            EXPECT_TRUE(fs::is_symlink(d.path("korvel.ini.tmp")));
        }
        for (const auto& entry : fs::recursive_directory_iterator(d.path(""))) {
            const std::string name = entry.path().filename().string();
            EXPECT_FALSE(name.rfind("korvel.ini.", 0) == 0 && name != "korvel.ini.tmp")
                << "left behind: " << name;
        }
        // So that the folder can be removed when the test runs as an ordinary user.
        fs::permissions(fs::path(file).parent_path(), fs::perms::owner_all, fs::perm_options::add);
    }
}

}  // namespace
}  // namespace korvel
