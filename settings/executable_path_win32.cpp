#include <windows.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "settings/settings.h"

namespace korvel {

namespace {
// Long-path limit of the system; a path that does not fit is not returned.
constexpr DWORD kMaxPathBytes = 32768;
constexpr DWORD kFirstTryBytes = MAX_PATH + 1;
}  // namespace

std::string ExecutablePath() {
    std::vector<char> buffer(kFirstTryBytes);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD n = ::GetModuleFileNameA(nullptr, buffer.data(), size);
        if (n == 0) {
            return {};
        }
        if (n < size) {
            return std::string(buffer.data(), n);
        }
        // Cut short: try again with room to spare.
        if (size >= kMaxPathBytes) {
            return {};
        }
        buffer.resize(std::min<DWORD>(size * 2, kMaxPathBytes));
    }
}

// File names ignore case here, so the stored path names the same file.
std::string ArgumentPackagePath(const std::string& argument) {
    std::string upper = argument;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

}  // namespace korvel
