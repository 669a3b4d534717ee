#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "jobs/serial_number.h"
#include "jobs/verify_mode.h"

namespace korvel::app {

// The window's own options, kept in the settings file's [KORVEL] section
// beside the keys korvel-cli reads (Verify, ResetLines); the design's
// [SETTINGS] section is never touched here.
struct KorvelOptions {
    static constexpr std::size_t kRecentCount = 5;

    bool verify = false;
    // How a verify checks, when it is on: Compare or Readback.
    VerifyMode verifyMode = VerifyMode::Compare;
    std::string resetLines = "none";          // as ParseResetLines reads it
    std::string recordFile;                   // empty: the station keeps no record
    bool sound = false;                       // a beep when a run ends
    bool messageDialog = true;                // the message after each run
    bool extraBaudRates = false;              // 57600, 115200 and 230400 in the Baud Rate box
    std::vector<std::string> recentPackages;  // most recent first
    bool askBoardId = false;                  // each board's id asked before its run
    bool writeSerial = false;                 // a serial number into each board's image
    std::string serialPlace;                  // AT:FORMAT, as ParseSerialPlace reads it
    bool serialFromBoardId = false;           // the number is the board id, not the counter's
    std::string serialCounter;                // the counter file

    bool operator==(const KorvelOptions&) const = default;
};

// Offered after the box's own speeds when KorvelOptions::extraBaudRates is set.
inline constexpr std::array kExtraBaudRates{57600, 115200, 230400};

// The options in the file at iniPath; defaults for what is missing.
KorvelOptions LoadKorvelOptions(const std::string& iniPath);
// Writes the options into [KORVEL], keeping every other line of the file.
// False when the file cannot be read back or written.
bool SaveKorvelOptions(const std::string& iniPath, const KorvelOptions& options);

// The serial numbers the options ask for: nullopt when none are written, or
// when they cannot be (what is wrong, and what to do, in `error`).
std::optional<SerialChoice> SerialChoiceOf(const KorvelOptions& options, std::string& error);

// recent with path moved (or added) to the front, at most kRecentCount long.
std::vector<std::string> RememberPackage(std::vector<std::string> recent, const std::string& path);

}  // namespace korvel::app
