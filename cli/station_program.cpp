#include "cli/station_program.h"

#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "cli/cli_platform.h"
#include "cli/port_listing.h"
#include "cli/run_watch.h"
#include "cli/station_console.h"
#include "jobs/gang_run.h"
#include "jobs/queued_handover.h"
#include "jobs/record_file.h"
#include "jobs/run_record_json.h"
#include "package/sha256.h"
#include "procedures/package_kinds.h"
#include "serial/port_resolver.h"
#include "serial/usb_port_info.h"
#include "settings/settings.h"

namespace korvel::cli {

namespace {

constexpr auto kServeWait = std::chrono::milliseconds(50);

std::optional<std::string> FileSha256(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    if (!in.eof() && in.fail()) {
        return std::nullopt;
    }
    return Sha256Hex(bytes);
}

// A port given as COM<n> or <n> keeps its number; a device path or adapter
// gets a number of its own above the settings' range, mapped to its device.
struct ResolvedPort {
    int number = 0;
    std::string problem;  // why an adapter could not be found
    std::string device;   // with every link followed
};

ResolvedPort Resolve(const std::string& given, int index) {
    ResolvedPort port;
    if (const auto number = PortNumber(given)) {
        port.number = *number;
        return port;
    }
    port.number = Settings::kMaxPort + 1 + index;
    // An adapter that is not there leaves its name: the run then reports
    // the port as not opened, and the record says which.
    MapPortName(port.number, given, port.problem);
    return port;
}

// A POSIX device path with every link followed (by-id names, simulator
// links); Windows device names stay as they are.
std::string DevicePath(const std::string& path) {
    return path.empty() || path[0] != '/' ? path : CanonicalDevicePath(path);
}

}  // namespace

int ProgramStation(const CliOptions& options, const TFilePro& package, int defaultPort,
                   const ResetLines& resetLines, const std::function<bool()>& stopRequested) {
    // With --json, standard output carries the records and nothing else.
    std::FILE* human = options.json ? stderr : stdout;
    std::vector<std::string> ports = options.ports;
    if (ports.empty()) {
        ports.push_back("COM" + std::to_string(defaultPort));
    }

    const auto sha256 = FileSha256(options.package);
    if (!sha256) {
        std::fprintf(stderr, "korvel-cli: cannot read the package '%s' to take its SHA-256\n",
                     options.package.c_str());
        return kExitBadPackage;
    }

    std::vector<ResolvedPort> resolved;
    std::map<std::string, std::string> devices;  // device to the port that named it
    for (std::size_t i = 0; i < ports.size(); ++i) {
        resolved.push_back(Resolve(ports[i], static_cast<int>(i)));
        const std::string device =
            DevicePath(PortResolver::instance().describe(resolved.back().number));
        resolved.back().device = device;
        if (auto [at, added] = devices.emplace(device, ports[i]); !added) {
            std::fprintf(stderr, "korvel-cli: --port %s and --port %s are the same device %s\n",
                         at->second.c_str(), ports[i].c_str(), device.c_str());
            return kExitUsage;
        }
    }

    // Opened once the ports are known to be usable: a usage error leaves no
    // record file behind.
    std::unique_ptr<RecordFile> record;
    if (!options.recordFile.empty()) {
        std::string error;
        record = RecordFile::Open(options.recordFile, error);
        if (!record) {
            std::fprintf(stderr,
                         "korvel-cli: cannot open the record file '%s': %s\nNo board was "
                         "programmed: a station must not run without its record.\n",
                         options.recordFile.c_str(), error.c_str());
            return kExitRecordFailed;
        }
    }

    QueuedHandover handover;
    StationConsole console(human, IsTerminal(human) && EnableCursorControl(human), ports,
                           [&](std::chrono::milliseconds wait) { handover.Serve(wait); });
    std::vector<GangBoard> boards;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        StationConsole::Board& view = console.board(i);
        boards.push_back({ports[i], resolved[i].number, resolved[i].device, &view, &view, &view});
        if (!resolved[i].problem.empty()) {
            console.message(i, resolved[i].problem);
        }
    }

    std::vector<std::optional<RunResult>> results(ports.size());
    bool recordFailed = false;
    GangRun gang(handover, StandardDrivers());
    gang.OnBoardFinished = [&](std::size_t i, const RunRecord& run, const GenericThread& thread) {
        results[i] = run.result;
        const std::string line = RunRecordJson(run);
        // On the disk before the result is shown: a station proves later
        // what it did from this file.
        if (record) {
            std::string error;
            if (!record->Append(line, error)) {
                recordFailed = true;
                console.message(
                    i, "The record could not be written to " + options.recordFile + ": " + error);
            }
        }
        if (options.json) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        }
        console.message(i, run.message);
        for (const std::string& line : FailureDetails(run.result, thread)) {
            console.message(i, line);
        }
        if (options.verify && !run.verified && run.result == RunResult::Success) {
            console.message(i,
                            "Not verified: this package's loader did not read the flash back "
                            "(the record says \"verified\": false)");
        }
    };
    gang.Start({&package, options.package, *sha256, options.baudRate.value_or(kDefaultBaudRate),
                options.verify, resetLines},
               boards);

    StopRelay stops(
        [&] { return gang.Stop(); }, "Stopping every run... (Ctrl+C again to quit at once)",
        "A boot monitor run cannot be stopped; it ends by itself; Ctrl+C again quits now",
        [&](const std::string& text) { console.message(text); });
    while (!gang.Finished()) {
        handover.Serve(kServeWait);
        if (stopRequested()) {
            stops.Request();
        }
    }

    for (const auto& result : results) {
        if (result && *result != RunResult::Success) {
            return static_cast<int>(*result);
        }
    }
    return recordFailed ? kExitRecordFailed : 0;
}

}  // namespace korvel::cli
