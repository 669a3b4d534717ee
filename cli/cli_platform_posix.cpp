#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <iostream>

#include "cli/cli_platform.h"
#include "cli/port_listing.h"
#include "package/printable_text.h"
#include "serial/usb_port_info.h"

namespace korvel::cli {

namespace {

// Shared with the signal handler: lock-free atomics and plain values set
// before the handler can see them.
std::atomic<int> stopRequests{0};
std::atomic<int> stopExitCode{0};
std::atomic<StopMode> stopMode{StopMode::SecondEnds};
std::atomic<bool> readingInput{false};
std::atomic<bool> echoTurnedOff{false};
termios terminalBeforeInput{};

extern "C" void OnStopRequest(int) {
    if (StopEndsProcess(stopMode, stopRequests.fetch_add(1) + 1, readingInput)) {
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
    std::signal(SIGPIPE, SIG_IGN);
}

int StopRequests() {
    return stopRequests;
}

void SetStopMode(StopMode mode) {
    stopMode = mode;
}

int TerminalWidth(std::FILE* stream) {
    winsize size{};
    return ::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
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
    // The adapter's own texts: escaped, they cannot move a terminal's cursor.
    const std::string serial = PrintableText(usb->serial);
    std::fprintf(out, "%14s USB %s:%s  serial %s  %s\n", "", usb->vendorId.c_str(),
                 usb->productId.c_str(), serial.empty() ? "-" : serial.c_str(),
                 PrintableText(description).c_str());
    std::fprintf(out, "%14s --port usb:%s:%s%s%s\n", "", usb->vendorId.c_str(),
                 usb->productId.c_str(), serial.empty() ? "" : ":", serial.c_str());
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
                     latency.c_str(), PrintableText(d.byIdName).c_str());
        PrintAdapter(out, d);
    }
    for (const auto& [number, name] : AbsentMappedPorts(portMap, devices)) {
        std::fprintf(out, "%-14s %-12s %-8s\n", PrintableText(name).c_str(), "absent",
                     ("COM" + std::to_string(number)).c_str());
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
                 PrintableText(settingsFile).c_str());
}

}  // namespace korvel::cli
