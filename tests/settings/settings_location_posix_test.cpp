#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "settings/settings.h"
#include "settings/settings_location.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

using std::filesystem::path;

// Sets (or with nullopt unsets) an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(SettingsLocationPosixTest, ConfigHomeFromTheEnvironment) {
    EXPECT_EQ(ConfigHomeFrom("/xdg/cfg", "/home/tech"), path("/xdg/cfg"));
    EXPECT_EQ(ConfigHomeFrom(nullptr, "/home/tech"), path("/home/tech/.config"));
    EXPECT_EQ(ConfigHomeFrom("", "/home/tech"), path("/home/tech/.config"));
    EXPECT_EQ(ConfigHomeFrom("relative/cfg", "/home/tech"), path("/home/tech/.config"))
        << "a relative XDG_CONFIG_HOME is ignored";
    EXPECT_EQ(ConfigHomeFrom(nullptr, ""), path());
    EXPECT_EQ(ConfigHomeFrom(nullptr, nullptr), path());
}

TEST(SettingsLocationPosixTest, UserSettingsFolderFollowsXdgThenHome) {
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/srv/cfg");
        ScopedEnv home("HOME", "/home/tech");
        EXPECT_EQ(UserSettingsFolder(), path("/srv/cfg/korvel"));
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
        ScopedEnv home("HOME", "/home/tech");
        EXPECT_EQ(UserSettingsFolder(), path("/home/tech/.config/korvel"));
    }
    {
        // Without HOME the account's home directory stands in.
        ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
        ScopedEnv home("HOME", std::nullopt);
        EXPECT_TRUE(UserSettingsFolder().is_absolute()) << UserSettingsFolder();
    }
}

TEST(SettingsLocationPosixTest, DirectoryTakesNewFilesOnlyWhenWritable) {
    test::TempDir dir;
    EXPECT_TRUE(DirectoryTakesNewFiles(dir.path("")));
    EXPECT_FALSE(DirectoryTakesNewFiles(dir.path("missing")));
    std::filesystem::create_directory(dir.path("locked"));
    ::chmod(dir.path("locked").c_str(), 0555);
    if (::geteuid() == 0) {
        EXPECT_TRUE(DirectoryTakesNewFiles(dir.path("locked"))) << "root writes anywhere";
    } else {
        EXPECT_FALSE(DirectoryTakesNewFiles(dir.path("locked")));
    }
    ::chmod(dir.path("locked").c_str(), 0755);
}

TEST(SettingsLocationPosixTest, ThisProcessGathersItsOwnPlaces) {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/srv/cfg");
    const SettingsPlaces places = CurrentSettingsPlaces();
    EXPECT_EQ(places.executable, path(ExecutablePath()));
    EXPECT_EQ(places.userSettingsFolder, path("/srv/cfg/korvel"));
    // The build tree is a portable layout: the file goes beside the program.
    EXPECT_EQ(DefaultSettingsFile(), (places.executable.parent_path() / "korvel.ini").string());
}

}  // namespace
}  // namespace korvel
