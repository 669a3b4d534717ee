#include "settings/settings_location.h"

#include <system_error>

#include "settings/settings.h"

namespace korvel {

namespace {

constexpr const char* kFileName = "korvel.ini";
constexpr const char* kConfigFolder = "korvel";

}  // namespace

std::filesystem::path ChooseSettingsFile(const SettingsPlaces& places) {
    if (places.executable.empty()) {
        return kFileName;
    }
    const std::filesystem::path beside = places.executable.parent_path() / kFileName;
    if (places.alwaysBesideExecutable || places.besideFileExists ||
        places.executableDirectoryWritable || places.userConfigHome.empty()) {
        return beside;
    }
    return places.userConfigHome / kConfigFolder / kFileName;
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
    places.alwaysBesideExecutable = SettingsAlwaysBesideExecutable();
    if (!places.executable.empty() && !places.alwaysBesideExecutable) {
        const std::filesystem::path directory = places.executable.parent_path();
        std::error_code ec;
        places.besideFileExists = std::filesystem::exists(directory / kFileName, ec);
        places.executableDirectoryWritable = DirectoryTakesNewFiles(directory);
        places.userConfigHome = UserConfigHome();
    }
    return places;
}

}  // namespace korvel
