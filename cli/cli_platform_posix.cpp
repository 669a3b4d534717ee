#include <grp.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "cli/cli_platform.h"
#include "cli/port_listing.h"

namespace korvel::cli {

bool StdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) != 0;
}

std::string ReadInputLine(bool echo, std::FILE* out) {
    termios saved{};
    const bool terminal = ::isatty(STDIN_FILENO) != 0 && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal && !echo) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal && !echo) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
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
    if (failure.permissionDenied) {
        std::string owner = "dialout";
        struct stat st {};
        if (::stat(devicePath.c_str(), &st) == 0) {
            if (const struct group* g = ::getgrgid(st.st_gid)) {
                owner = g->gr_name;
            }
        }
        text += "\nAdd your user to the group that owns the device: sudo usermod -aG " + owner +
                " $USER, then log in again.";
    } else if (failure.code == ENOENT) {
        text += "\nCheck the cable and the port; 'korvel-cli ports' lists the devices present.";
    }
    return text;
}

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
    }
    for (const SerialDeviceInfo& d : devices) {
        if (const std::string advice = LatencyAdvice(d); !advice.empty()) {
            std::fprintf(out, "\n%s\n", advice.c_str());
        }
    }
    std::fprintf(out,
                 "\nMap a device to COM<n> under [PORTS] in %s, for example:\n  "
                 "COM5=/dev/serial/by-id/<name>\n",
                 settingsFile.c_str());
}

}  // namespace korvel::cli
