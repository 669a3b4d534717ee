#include "cli/station_program.h"

#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "cli/cli_platform.h"
#include "cli/port_listing.h"
#include "cli/record_file.h"
#include "cli/run_watch.h"
#include "cli/station_console.h"
#include "cli/station_records.h"
#include "jobs/gang_run.h"
#include "jobs/queued_handover.h"
#include "package/printable_text.h"
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
    std::string device;  // with every link followed
};

ResolvedPort Resolve(const std::string& given, int index) {
    ResolvedPort port;
    if (const auto number = PortNumber(given)) {
        port.number = *number;
        return port;
    }
    port.number = Settings::kMaxPort + 1 + index;
    // An adapter that is not there leaves its name: the run then reports
    // the port as not opened and why, as for a mapped COM<n>.
    std::string unresolved;
    MapPortName(port.number, given, unresolved);
    return port;
}

// A POSIX device path, absolute or relative, with every link followed
// (by-id names, simulator links); Windows device names stay as they are.
std::string DevicePath(const std::string& path) {
    return path.find('/') == std::string::npos ? path : CanonicalDevicePath(path);
}

}  // namespace

int ProgramStation(const CliOptions& options, const TFilePro& package, int defaultPort,
                   const ResetLines& resetLines, const std::function<bool()>& stopRequested) {
    // Until the boards start nothing needs an orderly stop.
    SetStopMode(StopMode::FirstEnds);
    if (StopRequests() > 0) {
        return static_cast<int>(RunResult::Aborted);
    }
    // With --json, standard output carries the records and nothing else.
    std::FILE* human = options.json ? stderr : stdout;
    std::vector<std::string> ports = options.ports;
    if (ports.empty()) {
        ports.push_back("COM" + std::to_string(defaultPort));
    }

    const auto sha256 = FileSha256(options.package);
    if (!sha256) {
        std::fprintf(stderr, "korvel-cli: cannot read the package '%s' to take its SHA-256\n",
                     PrintableText(options.package).c_str());
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
                         PrintableText(at->second).c_str(), PrintableText(ports[i]).c_str(),
                         PrintableText(device).c_str());
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
                         PrintableText(options.recordFile).c_str(), error.c_str());
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
    }

    const GangPackage gangPackage{&package,       options.package,
                                  *sha256,        options.baudRate.value_or(kDefaultBaudRate),
                                  options.verify, resetLines};
    StationRecords records(
        StartedRecords(gangPackage, boards), std::move(record), options.recordFile,
        options.json ? stdout : nullptr,
        [&](std::size_t i, const std::string& text) { console.message(i, text); });
    GangRun gang(handover, StandardDrivers());
    gang.OnBoardFinished = [&](std::size_t i, const RunRecord& run, const GenericThread& thread) {
        records.Write(i, run);
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
    // From here on a stop request never ends the process before every
    // board has its record line.
    SetStopMode(StopMode::LoopEnds);
    gang.Start(gangPackage, boards);

    StopRelay stops(
        [&] { return gang.Stop(); }, "Stopping every run... (Ctrl+C again to quit at once)",
        "A boot monitor run cannot be stopped; it ends by itself; Ctrl+C again quits now",
        [&](const std::string& text) { console.message(text); });
    while (!gang.Finished()) {
        handover.Serve(kServeWait);
        if (StopRequests() > 1) {
            const int code =
                records.WriteStopped([&](std::size_t i) { return console.board(i).status(); });
            std::fflush(nullptr);
            std::_Exit(code);
        }
        if (stopRequested()) {
            stops.Request();
        }
    }

    return records.ExitCode();
}

}  // namespace korvel::cli
