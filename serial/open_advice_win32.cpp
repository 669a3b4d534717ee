#include <windows.h>

#include "serial/open_advice.h"

namespace korvel {

std::string OpenAdvice(const std::string& devicePath, const OpenFailure& failure) {
    // The system's text comes without its full stop (Win32ErrorText).
    const std::string text =
        devicePath + ": " + (failure.text.empty() ? "cannot be opened" : failure.text);
    if (failure.code == ERROR_FILE_NOT_FOUND || failure.code == ERROR_PATH_NOT_FOUND) {
        return text +
               ". Check the cable and the port number; the Device Manager lists the COM ports "
               "present under \"Ports (COM & LPT)\".";
    }
    if (failure.code == ERROR_ACCESS_DENIED || failure.code == ERROR_SHARING_VIOLATION) {
        return text + ". Close the program that holds the port (a terminal, another programmer).";
    }
    return text;
}

}  // namespace korvel
