#include <windows.h>

#include <io.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <utility>
#include <vector>

#include "cli/cli_platform.h"
#include "cli/com_port_names.h"

namespace korvel::cli {

namespace {

// The system's list of device names can be long; it is read in one buffer of
// at most this size.
constexpr DWORD kMaxDeviceListBytes = 1 << 20;
constexpr DWORD kFirstDeviceListBytes = 1 << 16;
constexpr DWORD kTargetBytes = 1024;

// "COM12" -> 12; 0 for any other name.
int ComNumber(const char* name) {
    if (std::strncmp(name, "COM", 3) != 0 || name[3] == '\0') {
        return 0;
    }
    int n = 0;
    for (const char* p = name + 3; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || n > 9999) {
            return 0;
        }
        n = n * 10 + (*p - '0');
    }
    return n;
}

// Shared with the signal handler, which the runtime calls on a thread of its own.
std::atomic<int> stopRequests{0};
std::atomic<int> stopExitCode{0};
std::atomic<bool> readingInput{false};
// The console keeps its input mode after the process: a stop at the access
// code prompt must turn the echo back on.
std::atomic<bool> echoTurnedOff{false};
std::atomic<DWORD> consoleModeBeforeInput{0};

extern "C" void OnStopRequest(int signal) {
    if (readingInput || stopRequests.fetch_add(1) >= 1) {
        if (echoTurnedOff) {
            ::SetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), consoleModeBeforeInput);
        }
        std::_Exit(stopExitCode);
    }
    // The runtime resets the handler before it calls it.
    std::signal(signal, OnStopRequest);
}

}  // namespace

void CatchStopRequests(int exitCode) {
    stopExitCode = exitCode;
    for (int signal : {SIGINT, SIGBREAK, SIGTERM}) {
        std::signal(signal, OnStopRequest);
    }
}

int StopRequests() {
    return stopRequests;
}

bool IsTerminal(std::FILE* stream) {
    return ::_isatty(::_fileno(stream)) != 0;
}

bool EnableCursorControl(std::FILE* stream) {
    const HANDLE console = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    return ::GetConsoleMode(console, &mode) &&
           ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

std::string ReadInputLine(bool echo, std::FILE* out) {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    const bool console = input != INVALID_HANDLE_VALUE && ::GetConsoleMode(input, &saved) != 0;
    if (console && !echo) {
        consoleModeBeforeInput = saved;
        echoTurnedOff = true;
        ::SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    }
    std::string line;
    readingInput = true;
    std::getline(std::cin, line);
    readingInput = false;
    if (console && !echo) {
        ::SetConsoleMode(input, saved);
        echoTurnedOff = false;
    }
    // Without echo (a password) the line end typed, or piped in, was not
    // shown: end the prompt's line, so that what follows starts a new one.
    if (!echo) {
        std::fputc('\n', out);
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

void PrintPorts(std::FILE* out, const std::map<int, std::string>&, const std::string&) {
    // Every DOS device name the system knows; the COM ports are among them.
    std::vector<char> names(kFirstDeviceListBytes);
    DWORD length = 0;
    for (;;) {
        length = ::QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
        if (length != 0 || ::GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
            names.size() >= kMaxDeviceListBytes) {
            break;
        }
        names.resize(names.size() * 2);
    }
    std::vector<std::pair<int, std::string>> ports;
    for (const char* name = names.data(); name < names.data() + length && *name != '\0';
         name += std::strlen(name) + 1) {
        if (const int n = ComNumber(name)) {
            char target[kTargetBytes] = {};
            if (::QueryDosDeviceA(name, target, kTargetBytes) == 0) {
                target[0] = '\0';
            }
            ports.emplace_back(n, target);
        }
    }
    std::sort(ports.begin(), ports.end());
    if (ports.empty()) {
        std::fprintf(out, "No serial ports found.\n");
    }
    const auto friendly = ComPortFriendlyNames();
    for (const auto& [n, target] : ports) {
        const auto name = friendly.find(n);
        std::fprintf(out, "COM%-5d %-24s %s\n", n, target.c_str(),
                     name != friendly.end() ? name->second.c_str() : "");
    }
    std::fprintf(out, "\nUse a port with --port COM<n>.\n");
}

}  // namespace korvel::cli
