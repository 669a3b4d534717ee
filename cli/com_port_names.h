#pragma once

#include <map>
#include <string>

namespace korvel::cli {

// Windows: the COM ports the device manager shows, by number, with their
// friendly names ("USB Serial Port (COM5)") and the adapter's hardware id.
std::map<int, std::string> ComPortFriendlyNames();

}  // namespace korvel::cli
