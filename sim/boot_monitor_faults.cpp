#include "sim/boot_monitor_faults.h"

#include <cerrno>
#include <cstdlib>

namespace korvel::sim {

namespace {

bool ParseAddress(const std::string& text, std::uint32_t& address) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > UINT32_MAX) {
        return false;
    }
    address = static_cast<std::uint32_t>(value);
    return true;
}

}  // namespace

const char* BootMonitorFaultNames() {
    return "running, build-date-only, no-prompt, no-done, refuse[@ADDR], mute-load[@ADDR], "
           "ignore-break[@ADDR], mute-nsave, mute-aboot, mute-prompt";
}

bool AddBootMonitorFault(const std::string& name, BootMonitorFaults& faults, std::string& error) {
    const auto at = name.find('@');
    const std::string base = name.substr(0, at);
    TransferFault* transfer = base == "refuse"         ? &faults.refuse
                              : base == "mute-load"    ? &faults.muteLoad
                              : base == "ignore-break" ? &faults.ignoreBreak
                                                       : nullptr;
    if (transfer != nullptr) {
        transfer->active = true;
        if (at != std::string::npos) {
            std::uint32_t address = 0;
            if (!ParseAddress(name.substr(at + 1), address)) {
                error = "bad address in fault '" + name + "' (want for example " + base +
                        "@0x80000000)";
                return false;
            }
            transfer->address = address;
        }
        return true;
    }
    if (at == std::string::npos) {
        if (name == "running") {
            faults.running = true;
            return true;
        }
        if (name == "build-date-only") {
            faults.buildDateOnly = true;
            return true;
        }
        if (name == "no-prompt") {
            faults.noPrompt = true;
            return true;
        }
        if (name == "no-done") {
            faults.noDone = true;
            return true;
        }
        if (name == "mute-nsave" || name == "mute-aboot" || name == "mute-prompt") {
            faults.mutedCommands.insert(name.substr(5));
            return true;
        }
    }
    error = "unknown fault '" + name + "' (known: " + BootMonitorFaultNames() + ")";
    return false;
}

}  // namespace korvel::sim
