#include <unistd.h>

#include <climits>

#include "settings/settings.h"

namespace korvel {

std::string ExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// POSIX file names are case-sensitive: upper-casing a path would name another
// (usually missing) file, so the argument is kept as given.
std::string ArgumentPackagePath(const std::string& argument) {
    return argument;
}

}  // namespace korvel
