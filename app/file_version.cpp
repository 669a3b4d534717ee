#include "app/file_version.h"

#include <cstdio>

#include "util/decimal.h"

namespace korvel::app {

namespace {

constexpr int kMaxMinor = 65535;  // a version resource holds 16-bit parts

}  // namespace

std::string FormatFileVersion(const std::string& fileVersion) {
    if (fileVersion.empty()) {
        return {};
    }
    const std::size_t firstDot = fileVersion.find('.');
    const std::string major = fileVersion.substr(0, firstDot);
    int minor = 0;
    if (firstDot != std::string::npos) {
        const std::size_t secondDot = fileVersion.find('.', firstDot + 1);
        const std::string text = fileVersion.substr(firstDot + 1, secondDot == std::string::npos
                                                                      ? std::string::npos
                                                                      : secondDot - firstDot - 1);
        if (const auto value = ParseDecimal<int>(text);
            value && *value >= 0 && *value <= kMaxMinor) {
            minor = *value;
        }
    }
    char digits[8];
    std::snprintf(digits, sizeof digits, "%03d", minor);
    return major + "." + digits;
}

}  // namespace korvel::app
