#include "settings/settings_location.h"

#include <system_error>

#include "settings/settings.h"

namespace korvel {

namespace {

constexpr const char* kFileName = "korvel.ini";

}  // namespace

std::filesystem::path ChooseSettingsFile(const SettingsPlaces& places) {
    if (places.executable.empty()) {
        return kFileName;
    }
    const std::filesystem::path beside = places.executable.parent_path() / kFileName;
    if (places.besideFileExists || places.executableDirectoryWritable ||
        places.userSettingsFolder.empty()) {
        return beside;
    }
    return places.userSettingsFolder / kFileName;
}

std::filesystem::path ConfigHomeFrom(const char* xdgConfigHome, const char* home) {
    // A relative XDG_CONFIG_HOME is invalid and is to be ignored.
    if (xdgConfigHome != nullptr && std::filesystem::path(xdgConfigHome).is_absolute()) {
        return xdgConfigHome;
    }
    if (home != nullptr && *home != '\0') {
        return std::filesystem::path(home) / ".config";
    }
    return {};
}

SettingsPlaces CurrentSettingsPlaces() {
    SettingsPlaces places;
    places.executable = ExecutablePath();
    if (!places.executable.empty()) {
        const std::filesystem::path directory = places.executable.parent_path();
        std::error_code ec;
        places.besideFileExists = std::filesystem::exists(directory / kFileName, ec);
        places.executableDirectoryWritable = DirectoryTakesNewFiles(directory);
        places.userSettingsFolder = UserSettingsFolder();
    }
    return places;
}

}  // namespace korvel
