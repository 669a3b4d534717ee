#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <iostream>

#include "cli/cli_platform.h"
#include "cli/port_listing.h"
#include "serial/usb_port_info.h"

namespace korvel::cli {

namespace {

// Shared with the signal handler: lock-free atomics and plain values set
// before the handler can see them.
std::atomic<int> stopRequests{0};
std::atomic<int> stopExitCode{0};
std::atomic<bool> readingInput{false};
std::atomic<bool> echoTurnedOff{false};
termios terminalBeforeInput{};

extern "C" void OnStopRequest(int) {
    if (readingInput || stopRequests.fetch_add(1) >= 1) {
        if (echoTurnedOff) {
            ::tcsetattr(STDIN_FILENO, TCSANOW, &terminalBeforeInput);
        }
        if (readingInput && ::write(STDOUT_FILENO, "\n", 1) < 0) {
            // Nothing to be done: the process ends either way.
        }
        ::_exit(stopExitCode);
    }
}

}  // namespace

void CatchStopRequests(int exitCode) {
    stopExitCode = exitCode;
    struct sigaction action {};
    action.sa_handler = OnStopRequest;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
}

int StopRequests() {
    return stopRequests;
}

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

bool EnableCursorControl(std::FILE*) {
    return true;
}

std::string ReadInputLine(bool echo, std::FILE* out) {
    termios saved{};
    const bool terminal = ::isatty(STDIN_FILENO) != 0 && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal && !echo) {
        terminalBeforeInput = saved;
        echoTurnedOff = true;
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    readingInput = true;
    std::getline(std::cin, line);
    readingInput = false;
    if (terminal && !echo) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
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

namespace {

// The adapter's ids, serial number and description, and the name that
// finds it again after the system renumbers its ttys.
void PrintAdapter(std::FILE* out, const SerialDeviceInfo& device) {
    const auto usb = UsbInfoForTty(device.path.substr(device.path.rfind('/') + 1));
    if (!usb) {
        return;
    }
    std::string description = usb->manufacturer;
    if (!usb->product.empty()) {
        description += (description.empty() ? "" : " ") + usb->product;
    }
    std::fprintf(out, "%14s USB %s:%s  serial %s  %s\n", "", usb->vendorId.c_str(),
                 usb->productId.c_str(), usb->serial.empty() ? "-" : usb->serial.c_str(),
                 description.c_str());
    std::fprintf(out, "%14s --port usb:%s:%s%s%s\n", "", usb->vendorId.c_str(),
                 usb->productId.c_str(), usb->serial.empty() ? "" : ":", usb->serial.c_str());
}

}  // namespace

void PrintPorts(std::FILE* out, const std::map<int, std::string>& portMap,
                const std::string& settingsFile) {
    const auto devices = ListSerialDevices(portMap);
    if (devices.empty()) {
        std::fprintf(out, "No serial devices found.\n");
    }
    for (const SerialDeviceInfo& d : devices) {
        const std::string latency =
            d.latencyTimerMs ? "latency " + std::to_string(*d.latencyTimerMs) + " ms" : "";
        std::fprintf(out, "%-14s %-12s %-8s %-16s %s\n", d.path.c_str(), d.kind.c_str(),
                     d.comNumber > 0 ? ("COM" + std::to_string(d.comNumber)).c_str() : "-",
                     latency.c_str(), d.byIdName.c_str());
        PrintAdapter(out, d);
    }
    for (const SerialDeviceInfo& d : devices) {
        if (const std::string advice = LatencyAdvice(d); !advice.empty()) {
            std::fprintf(out, "\n%s\n", advice.c_str());
        }
    }
    std::fprintf(out,
                 "\nMap a device to COM<n> under [PORTS] in %s, for example:\n  "
                 "COM5=/dev/serial/by-id/<name>   or   COM5=usb:<vid>:<pid>:<serial>\n"
                 "--port takes the same names.\n",
                 settingsFile.c_str());
}

}  // namespace korvel::cli
