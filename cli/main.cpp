// korvel-cli: the headless front end for production stations and scripts.
#include <cstdio>
#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_platform.h"
#include "cli/identify.h"
#include "cli/station_program.h"
#include "cli/terminal_console.h"
#include "package/printable_text.h"
#include "package/tfilepro.h"
#include "procedures/package_kinds.h"
#include "procedures/run_preparation.h"
#include "serial/usb_port_info.h"
#include "settings/settings.h"

using namespace korvel;
using namespace korvel::cli;

namespace {

constexpr int kExitStopped = static_cast<int>(RunResult::Aborted);

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
    // Until the boards start a supervisor's SIGTERM or a Ctrl+C ends the
    // program at once: nothing has begun that must be stopped in order.
    CatchStopRequests(kExitStopped);
    SetStopMode(StopMode::FirstEnds);
    const auto resolved = ResolvePorts(options, settings.serialPort, stderr);
    if (!resolved) {
        return kExitUsage;
    }
    auto ports = *resolved;
    if (!options.boardId.empty()) {
        ports.front().boardId = options.boardId;
    }
    if (options.boardIdsFromInput) {
        std::string error;
        if (!ReadBoardIds(std::cin, IsTerminal(stdin) ? stderr : nullptr, ports, error)) {
            std::fprintf(stderr, "korvel-cli: --board-ids: %s\n", error.c_str());
            return kExitUsage;
        }
    }
    TerminalConsole console(human, IsTerminal(human));

    RunChoices choices;
    choices.ports = ports;
    choices.baudRate = options.baudRate.value_or(kDefaultBaudRate);
    choices.resetLines = options.resetLines;
    choices.resetLinesSetting = settings.resetLines;
    choices.settingsFile = settings.fileName();
    choices.verify = options.verify;
    choices.expectSha256 =
        options.expectSha256.empty() ? settings.expectSha256 : options.expectSha256;
    if (options.serial) {
        choices.serial = SerialChoice{*options.serial, options.serialCounter};
    }
    const auto prepared = PrepareRun(package, choices, &console, [&](bool loads) {
        if (loads) {
            console.message("The package changed on disk and was loaded again: Device: " +
                            PrintableText(package.entryName(0)) +
                            ", Version: " + PrintableText(package.entryVersion(0)));
        }
    });
    if (const auto* refusal = std::get_if<RunRefusal>(&prepared)) {
        if (!refusal->message.empty()) {
            console.message("korvel-cli: " + refusal->message);
        }
        return refusal->exitCode;
    }
    return ProgramStation(options, std::get<RunRequest>(prepared), {human, stdout},
                          [] { return StopRequests() > 0; });
}

int Identify(const CliOptions& options, Settings& settings) {
    // Nothing is under way that a stop must end in order.
    CatchStopRequests(kExitStopped);
    SetStopMode(StopMode::FirstEnds);
    const auto ports = ResolvePorts(options, settings.serialPort, stderr);
    if (!ports) {
        return kExitUsage;
    }
    ResetLines resetLines;
    if (options.resetLines) {
        resetLines = *options.resetLines;
    } else {
        std::string error;
        const auto fromSettings = ParseResetLines(settings.resetLines, error);
        if (!fromSettings) {
            std::fprintf(stderr, "korvel-cli: ResetLines in %s: %s\n",
                         PrintableText(settings.fileName()).c_str(), PrintableText(error).c_str());
            return kExitUsage;
        }
        resetLines = *fromSettings;
    }
    return IdentifyBoard(ports->front(), options.baudRate.value_or(kDefaultBaudRate), resetLines,
                         options.json, stdout, stderr);
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
        case CliOptions::Command::Identify:
            return Identify(*options, settings);
        case CliOptions::Command::Help:
        case CliOptions::Command::Version:
            break;
    }
    return 0;
}
