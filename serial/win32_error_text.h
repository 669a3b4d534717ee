#pragma once

#include <windows.h>

#include <string>

namespace korvel {

// The system's text for a Windows error code, without the trailing line
// break and full stop; "system error N" where the system has none.
std::string Win32ErrorText(DWORD code);

}  // namespace korvel
