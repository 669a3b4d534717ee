// korvel-cli: the headless front end for production stations and scripts.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_platform.h"
#include "cli/terminal_console.h"
#include "jobs/generic_thread.h"
#include "jobs/queued_handover.h"
#include "jobs/run_messages.h"
#include "package/tfilepro.h"
#include "procedures/package_kinds.h"
#include "serial/port_resolver.h"
#include "settings/settings.h"

using namespace korvel;
using namespace korvel::cli;

namespace {

std::atomic<int> interrupts{0};

extern "C" void OnInterrupt(int) {
    if (interrupts.fetch_add(1) >= 1) {
        // The second Ctrl+C: the user wants out now.
        std::_Exit(static_cast<int>(RunResult::Aborted));
    }
}

int LoadOrReport(TFilePro& package, const std::string& path) {
    if (!package.LoadFromFile(path)) {
        std::fprintf(
            stderr,
            "korvel-cli: cannot load the package '%s': the file is missing, unreadable or not a "
            ".pr2 firmware package\n",
            path.c_str());
        return kExitBadPackage;
    }
    return 0;
}

int Info(const CliOptions& options) {
    TFilePro package;
    if (int code = LoadOrReport(package, options.package)) {
        return code;
    }
    const PackageKind& kind = FindPackageKind(package.kind());
    std::printf("Package: %s\n", options.package.c_str());
    std::printf("Kind:    '%c' (0x%02X), %s\n", package.kind(),
                static_cast<unsigned char>(package.kind()),
                kind.procedure != nullptr ? kind.procedure
                                          : "no programming procedure (runs end with result 2)");
    std::printf("%-5s %-14s %-7s %10s  %s\n", "Entry", "Name", "Version", "Size", "Kind");
    for (int i = 0; i < package.entryCount(); ++i) {
        std::printf("%-5d %-14s %-7s %10d  '%c'\n", i, package.entryName(i).c_str(),
                    package.entryVersion(i).c_str(), package.entrySize(i), package.entryKind(i));
    }
    return 0;
}

int Program(const CliOptions& options, Settings& settings) {
    TFilePro package;
    if (int code = LoadOrReport(package, options.package)) {
        return code;
    }
    const bool interactive = StdoutIsTerminal();
    TerminalConsole console(stdout, interactive);
    if (FindPackageKind(package.kind()).needsAccessCode &&
        console.AskPassword("Password", kAccessCode) != DialogYes) {
        return kExitWrongPassword;
    }

    int portNumber = options.portNumber.value_or(settings.SerialPort);
    if (!options.devicePath.empty()) {
        PortResolver::instance().mapPath(portNumber, options.devicePath);
    }
    const std::string portName = "COM" + std::to_string(portNumber);

    QueuedHandover handover;
    std::atomic<bool> finished{false};
    RunResult result = RunResult::ProgrammingError;
    GenericThread thread(handover, &console, StandardDrivers());
    thread.OnFinished = [&](RunResult r) {
        result = r;
        finished = true;
    };
    thread.Setup(package, &console, options.baudRate.value_or(kDefaultBaudRate), &console,
                 portNumber);

    std::signal(SIGINT, OnInterrupt);
    thread.Start();
    bool stopRequested = false;
    while (!finished) {
        handover.Serve(std::chrono::milliseconds(50));
        if (interrupts > 0 && !stopRequested) {
            stopRequested = true;
            console.message("Stopping... (Ctrl+C again to quit at once)");
            thread.Stop();
        }
    }
    console.finishLine();

    if (result == RunResult::Success) {
        console.setPosition(INT32_MAX);
    }
    if (auto text = ResultMessage(result, portName)) {
        console.message(*text);
    } else {
        console.message("Aborted");
    }
    if (result == RunResult::PortNotOpened) {
        console.message(OpenAdvice(thread.portDevice(), thread.portFailure()));
    }
    if (result == RunResult::ProgrammingError && !thread.failureText().empty()) {
        // The board or its adapter went away, or the line failed otherwise.
        console.message("The run stopped on an error of the serial line or the system: " +
                        thread.failureText());
    }
    return static_cast<int>(result);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = ParseCliOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "korvel-cli: %s\n\n%s", error.c_str(), UsageText().c_str());
        return kExitUsage;
    }
    if (options->command == CliOptions::Command::Help) {
        std::printf("%s", UsageText().c_str());
        return 0;
    }
    if (options->command == CliOptions::Command::Version) {
        std::printf("korvel-cli %s\n", KORVEL_VERSION);
        return 0;
    }
    // The window's settings file: read for the default port and the [PORTS]
    // mapping, never written from here.
    Settings::Initialise(DefaultSettingsFile(), {}, /*readOnly=*/true);
    Settings& settings = Settings::Instance();
    for (const auto& [number, path] : settings.ports) {
        PortResolver::instance().mapPath(number, path);
    }
    switch (options->command) {
        case CliOptions::Command::Info:
            return Info(*options);
        case CliOptions::Command::Ports:
            PrintPorts(stdout, settings.ports, settings.fileName());
            return 0;
        case CliOptions::Command::Program:
            return Program(*options, settings);
        case CliOptions::Command::Help:
        case CliOptions::Command::Version:
            break;
    }
    return 0;
}
