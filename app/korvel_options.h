#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace korvel::app {

// The window's own options, kept in the settings file's [KORVEL] section
// beside the keys korvel-cli reads (Verify, ResetLines); the design's
// [SETTINGS] section is never touched here.
struct KorvelOptions {
    static constexpr std::size_t kRecentCount = 5;

    bool verify = false;
    std::string resetLines = "none";          // as ParseResetLines reads it
    std::string recordFile;                   // empty: the station keeps no record
    bool sound = false;                       // a beep when a run ends
    bool messageDialog = true;                // the message after each run
    bool extraBaudRates = false;              // 57600, 115200 and 230400 in the Baud Rate box
    std::vector<std::string> recentPackages;  // most recent first

    bool operator==(const KorvelOptions&) const = default;
};

// Offered after the box's own speeds when KorvelOptions::extraBaudRates is set.
inline constexpr std::array kExtraBaudRates{57600, 115200, 230400};

// The options in the file at iniPath; defaults for what is missing.
KorvelOptions LoadKorvelOptions(const std::string& iniPath);
// Writes the options into [KORVEL], keeping every other line of the file.
// False when the file cannot be read back or written.
bool SaveKorvelOptions(const std::string& iniPath, const KorvelOptions& options);

// recent with path moved (or added) to the front, at most kRecentCount long.
std::vector<std::string> RememberPackage(std::vector<std::string> recent, const std::string& path);

}  // namespace korvel::app
