#include "settings/settings_location.h"

#include <gtest/gtest.h>
#include <filesystem>

#include "settings/settings.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

using std::filesystem::path;

SettingsPlaces InstalledIn(const path& executable) {
    SettingsPlaces places;
    places.executable = executable;
    places.userSettingsFolder = "/home/tech/.config/korvel";
    return places;
}

TEST(SettingsLocationTest, InstalledProgramKeepsSettingsInTheUsersConfigDirectory) {
    EXPECT_EQ(ChooseSettingsFile(InstalledIn("/usr/bin/korvel")),
              path("/home/tech/.config/korvel/korvel.ini"));
}

TEST(SettingsLocationTest, PortableLayoutKeepsTheFileBesideTheProgram) {
    SettingsPlaces writable = InstalledIn("/opt/tools/korvel");
    writable.executableDirectoryWritable = true;
    EXPECT_EQ(ChooseSettingsFile(writable), path("/opt/tools/korvel.ini"));

    // An existing file wins even where the user cannot create one: an
    // administrator's shared settings stay in force.
    SettingsPlaces existing = InstalledIn("/usr/bin/korvel-cli");
    existing.besideFileExists = true;
    EXPECT_EQ(ChooseSettingsFile(existing), path("/usr/bin/korvel.ini"));
}

TEST(SettingsLocationTest, AProgramInstalledOnWindowsKeepsSettingsInAppData) {
    SettingsPlaces installed;
    installed.executable = "C:/Program Files/Korvel/korvel.exe";
    installed.userSettingsFolder = "C:/Users/tech/AppData/Roaming/Korvel";
    EXPECT_EQ(ChooseSettingsFile(installed),
              path("C:/Users/tech/AppData/Roaming/Korvel/korvel.ini"));
    SettingsPlaces unpacked = installed;
    unpacked.executable = "D:/Tools/Korvel/korvel.exe";
    unpacked.executableDirectoryWritable = true;
    EXPECT_EQ(ChooseSettingsFile(unpacked), path("D:/Tools/Korvel/korvel.ini"));
}

TEST(SettingsLocationTest, WithoutABetterPlaceTheOldRuleHolds) {
    SettingsPlaces noHome = InstalledIn("/usr/bin/korvel");
    noHome.userSettingsFolder.clear();
    EXPECT_EQ(ChooseSettingsFile(noHome), path("/usr/bin/korvel.ini"));
    EXPECT_EQ(ChooseSettingsFile(InstalledIn("")), path("korvel.ini"));
}

TEST(SettingsLocationTest, SaveMakesTheConfigFolderThatIsNotThereYet) {
    test::TempDir dir;
    const path file = dir.path("cfg") / "korvel" / "korvel.ini";
    Settings window(file.string());
    window.Load({});
    EXPECT_TRUE(std::filesystem::exists(file)) << "made with the defaults at the first start";
    window.serialPort = 7;
    window.Save();
    Settings cli(file.string(), /*readOnly=*/true);
    cli.Load({});
    EXPECT_EQ(cli.serialPort, 7);

    // The read-only front end never makes the folder either.
    const path other = dir.path("other") / "korvel" / "korvel.ini";
    Settings readOnly(other.string(), /*readOnly=*/true);
    readOnly.Load({});
    EXPECT_FALSE(std::filesystem::exists(other.parent_path()));
}

}  // namespace
}  // namespace korvel
