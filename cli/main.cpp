// korvel-cli: the headless front end for production stations and scripts.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_platform.h"
#include "cli/run_watch.h"
#include "cli/station_program.h"
#include "cli/terminal_console.h"
#include "jobs/generic_thread.h"
#include "jobs/queued_handover.h"
#include "jobs/run_messages.h"
#include "package/printable_text.h"
#include "package/tfilepro.h"
#include "procedures/package_kinds.h"
#include "serial/usb_port_info.h"
#include "settings/settings.h"

using namespace korvel;
using namespace korvel::cli;

namespace {

constexpr int kExitStopped = static_cast<int>(RunResult::Aborted);
constexpr const char* kCannotStop =
    "the boot monitor run cannot be stopped; it ends by itself; Ctrl+C again quits now";

int LoadOrReport(TFilePro& package, const std::string& path) {
    if (!package.LoadFromFile(path)) {
        std::fprintf(stderr,
                     "korvel-cli: cannot load the package '%s': the file is missing, unreadable, "
                     "not a regular file or not a .pr2 firmware package\n",
                     PrintableText(path).c_str());
        return kExitBadPackage;
    }
    return 0;
}

// Right before the run: the package as it is on disk now, never a stale copy.
int ReloadIfChanged(TFilePro& package, TerminalConsole& console) {
    switch (package.ReloadIfChanged()) {
        case TFilePro::Freshness::Unchanged:
            break;
        case TFilePro::Freshness::Reloaded:
            console.message("The package changed on disk and was loaded again: Device: " +
                            PrintableText(package.entryName(0)) +
                            ", Version: " + PrintableText(package.entryVersion(0)));
            break;
        case TFilePro::Freshness::NoLongerLoads:
            console.message(
                "The package changed on disk and no longer loads; nothing was "
                "programmed");
            return kExitBadPackage;
    }
    return 0;
}

// --reset-lines, else the settings file's; nullopt (the reason printed) when
// the setting does not read.
std::optional<ResetLines> ResetLinesFor(const CliOptions& options, const Settings& settings) {
    if (options.resetLines) {
        return options.resetLines;
    }
    std::string error;
    auto lines = ParseResetLines(settings.ResetLines, error);
    if (!lines) {
        std::fprintf(stderr, "korvel-cli: %s: [KORVEL] ResetLines: %s\n",
                     settings.fileName().c_str(), error.c_str());
    }
    return lines;
}

int Info(const CliOptions& options) {
    TFilePro package;
    if (int code = LoadOrReport(package, options.package)) {
        return code;
    }
    const PackageKind& packageKind = FindPackageKind(package.kind());
    std::printf("Package: %s\n", PrintableText(options.package).c_str());
    std::printf(
        "Kind:    '%s' (0x%02X), %s\n", PrintableText(std::string(1, package.kind())).c_str(),
        static_cast<unsigned char>(package.kind()),
        packageKind.procedure != nullptr ? packageKind.procedure
                                         : "no programming procedure (runs end with result 2)");
    std::printf("%-5s %-14s %-7s %10s  %s\n", "Entry", "Name", "Version", "Size", "Kind");
    for (int i = 0; i < package.entryCount(); ++i) {
        const char kind = package.entryKind(i);
        std::printf("%-5d %-14s %-7s %10d  %s\n", i, PrintableText(package.entryName(i)).c_str(),
                    PrintableText(package.entryVersion(i)).c_str(), package.entrySize(i),
                    ("'" + PrintableText(std::string(1, kind)) + "'").c_str());
    }
    return 0;
}

int Program(const CliOptions& options, Settings& settings) {
    TFilePro package;
    if (int code = LoadOrReport(package, options.package)) {
        return code;
    }
    // With --json, standard output carries the records only.
    std::FILE* human = options.json ? stderr : stdout;
    TerminalConsole console(human, IsTerminal(human));
    // From here on a supervisor's SIGTERM or a Ctrl+C stops the run; at a
    // prompt it ends the program at once.
    CatchStopRequests(kExitStopped);
    if (FindPackageKind(package.kind()).needsAccessCode &&
        console.AskPassword("Password", kAccessCode) != DialogYes) {
        return kExitAccessCode;
    }
    if (int code = ReloadIfChanged(package, console)) {
        return code;
    }
    if (options.station()) {
        const std::optional<ResetLines> resetLines = ResetLinesFor(options, settings);
        if (!resetLines) {
            return kExitUsage;
        }
        return ProgramStation(options, package, settings.SerialPort, *resetLines,
                              [] { return StopRequests() > 0; });
    }

    int portNumber = options.portNumber.value_or(settings.SerialPort);
    if (!options.devicePath.empty()) {
        std::string error;
        if (!MapPortName(portNumber, options.devicePath, error)) {
            console.message(error);
            return static_cast<int>(RunResult::PortNotOpened);
        }
    }
    // A port given as a device path is named by that path.
    const std::string portName =
        options.devicePath.empty() ? "COM" + std::to_string(portNumber) : options.devicePath;
    const std::optional<ResetLines> resetLines = ResetLinesFor(options, settings);
    if (!resetLines) {
        return kExitUsage;
    }

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
    thread.SetResetLines(*resetLines);

    try {
        thread.Start();
    } catch (const std::exception& e) {
        console.message(StartFailureMessage(e));
        return static_cast<int>(RunResult::ProgrammingError);
    }
    StopRelay stops([&] { return thread.Stop(); }, "Stopping... (Ctrl+C again to quit at once)",
                    kCannotStop, [&](const std::string& text) { console.message(text); });
    while (!finished) {
        handover.Serve(std::chrono::milliseconds(50));
        if (StopRequests() > 0) {
            stops.Request();
        }
    }
    console.finishLine();

    if (result == RunResult::Success) {
        console.setPosition(INT32_MAX);
    }
    console.message(ResultMessage(result, portName).value_or("Aborted"));
    for (const std::string& line : FailureDetails(result, thread)) {
        console.message(line);
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
    for (const std::string& warning : settings.warnings()) {
        std::fprintf(stderr, "korvel-cli: %s\n", PrintableText(warning).c_str());
    }
    MapSettingsPorts(settings.ports);
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
