#pragma once

namespace korvel {

// The standard status texts; procedures pass an entry as the format of Status.
enum class StatusId : int {
    Connecting = 0,
    Disconnecting,
    Connected,
    ReadInfo,
    Erase,
    Programming,
    Verifying,
    Reset,
    Reboot,
    Done,
    Error,
    Aborted,
    PowerOn,
    PowerOff,
};

inline constexpr const char* StatusText[] = {
    "Connecting", "Disconnecting", "Connected", "Read Info", "Erase",   "Programming", "Verifying",
    "Reset",      "Reboot",        "Done",      "Error",     "Aborted", "Power ON",    "Power OFF",
};

constexpr const char* Text(StatusId id) {
    return StatusText[static_cast<int>(id)];
}

}  // namespace korvel
