#include "settings/settings_location.h"

namespace korvel {

// Windows programs keep the settings file beside the executable (the portable
// layout), wherever it is installed.
bool SettingsAlwaysBesideExecutable() {
    return true;
}

bool DirectoryTakesNewFiles(const std::filesystem::path&) {
    return true;
}

std::filesystem::path UserConfigHome() {
    return {};
}

}  // namespace korvel
