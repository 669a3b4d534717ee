#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "settings/settings_location.h"

namespace korvel {

// Creating a file needs write and search permission on the directory.
bool DirectoryTakesNewFiles(const std::filesystem::path& directory) {
    return ::access(directory.c_str(), W_OK | X_OK) == 0;
}

std::filesystem::path UserSettingsFolder() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        // Started without HOME (a service, a bare sudo): the account's own.
        if (const struct passwd* account = ::getpwuid(::getuid())) {
            home = account->pw_dir;
        }
    }
    const std::filesystem::path config = ConfigHomeFrom(std::getenv("XDG_CONFIG_HOME"), home);
    return config.empty() ? config : config / "korvel";
}

}  // namespace korvel
