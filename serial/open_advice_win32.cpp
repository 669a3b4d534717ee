#include <windows.h>

#include "serial/open_advice.h"

namespace korvel {

std::string OpenHint(const std::string&, const OpenFailure& failure) {
    if (failure.code == ERROR_FILE_NOT_FOUND || failure.code == ERROR_PATH_NOT_FOUND) {
        return "Check the cable and the port number; the Device Manager lists the COM ports "
               "present under \"Ports (COM & LPT)\".";
    }
    if (failure.code == ERROR_ACCESS_DENIED || failure.code == ERROR_SHARING_VIOLATION) {
        return "Close the program that holds the port (a terminal, another programmer).";
    }
    return "";
}

}  // namespace korvel
