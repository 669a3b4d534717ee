#include <windows.h>

#include <io.h>

#include <cstdio>
#include <iostream>

#include "cli/cli_platform.h"

namespace korvel::cli {

bool StdoutIsTerminal() {
    return ::_isatty(::_fileno(stdout)) != 0;
}

std::string ReadInputLine(bool echo, std::FILE* out) {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    const bool console = input != INVALID_HANDLE_VALUE && ::GetConsoleMode(input, &saved) != 0;
    if (console && !echo) {
        ::SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    }
    std::string line;
    std::getline(std::cin, line);
    if (console && !echo) {
        ::SetConsoleMode(input, saved);
        // The Enter key was not echoed either.
        std::fputc('\n', out);
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

std::string OpenAdvice(const std::string& devicePath, const OpenFailure& failure) {
    std::string text =
        devicePath + ": " + (failure.text.empty() ? "cannot be opened" : failure.text);
    if (failure.code == ERROR_FILE_NOT_FOUND || failure.code == ERROR_PATH_NOT_FOUND) {
        text +=
            "\nCheck the cable and the port number; the Device Manager lists the COM ports "
            "present under \"Ports (COM & LPT)\".";
    } else if (failure.code == ERROR_ACCESS_DENIED || failure.code == ERROR_SHARING_VIOLATION) {
        text += "\nClose the program that holds the port (a terminal, another programmer).";
    }
    return text;
}

}  // namespace korvel::cli
