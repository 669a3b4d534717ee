#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace korvel::sim {

// A fault that hits raw transfers: every one, or only the one to an address.
struct TransferFault {
    bool active = false;
    std::optional<std::uint32_t> address;
    bool hits(std::uint32_t loadAddress) const {
        return active && (!address || *address == loadAddress);
    }
};

// What can be wrong with a boot-monitor board, by --fault name.
struct BootMonitorFaults {
    bool running = false;        // "running": already running its application, no banner
    bool buildDateOnly = false;  // "build-date-only": the banner names only its build date
    // "no-prompt": no prompt once the automatic start is stopped, nor after an
    // empty line; the commands are still answered with one.
    bool noPrompt = false;
    bool noDone = false;        // "no-done": the started image never reports "Done"
    TransferFault refuse;       // "refuse[@ADDR]": the transfer is refused after the BREAK
    TransferFault muteLoad;     // "mute-load[@ADDR]": the load command is echoed, then silence
    TransferFault ignoreBreak;  // "ignore-break[@ADDR]": nothing ends the transfer
    std::set<std::string> mutedCommands;  // "mute-nsave", "mute-aboot", "mute-prompt"
};

// Adds the fault named `name`; false with the reason in `error` when unknown.
bool AddBootMonitorFault(const std::string& name, BootMonitorFaults& faults, std::string& error);

// The fault names, for --help.
const char* BootMonitorFaultNames();

}  // namespace korvel::sim
