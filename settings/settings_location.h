#pragma once

#include <filesystem>
#include <string>

namespace korvel {

// What decides where the settings file lives, gathered from the system.
struct SettingsPlaces {
    // The running executable; empty when the system will not say.
    std::filesystem::path executable;
    // A settings file is already there, beside the executable.
    bool besideFileExists = false;
    // The executable's directory takes new files from this user.
    bool executableDirectoryWritable = false;
    // The user's own folder for Korvel's settings (~/.config/korvel,
    // %APPDATA%\Korvel); empty when there is none.
    std::filesystem::path userSettingsFolder;
};

// The settings file: beside the executable where it is or can be written
// (the portable layout), else korvel.ini in the user's settings folder. A
// program installed in a system directory (/usr/bin, Program Files) thereby
// keeps every user's choices in their own file.
std::filesystem::path ChooseSettingsFile(const SettingsPlaces& places);

// The user's configuration directory from the two environment values (null
// when unset): XDG_CONFIG_HOME when it is an absolute path, else
// HOME/.config; empty when neither gives one.
std::filesystem::path ConfigHomeFrom(const char* xdgConfigHome, const char* home);

// The places of this process.
SettingsPlaces CurrentSettingsPlaces();

// Platform parts (settings_location_posix.cpp / settings_location_win32.cpp).
bool DirectoryTakesNewFiles(const std::filesystem::path& directory);
std::filesystem::path UserSettingsFolder();

}  // namespace korvel
