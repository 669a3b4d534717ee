#include "cli/station_program.h"

#include <cstdlib>
#include <map>
#include <memory>

#include "cli/cli_platform.h"
#include "cli/port_listing.h"
#include "cli/run_watch.h"
#include "cli/station_console.h"
#include "cli/station_records.h"
#include "cli/terminal_console.h"
#include "jobs/gang_run.h"
#include "jobs/queued_handover.h"
#include "jobs/record_file.h"
#include "jobs/run_messages.h"
#include "package/printable_text.h"
#include "procedures/package_kinds.h"
#include "serial/port_resolver.h"
#include "serial/usb_port_info.h"
#include "settings/settings.h"

namespace korvel::cli {

namespace {

constexpr auto kServeWait = std::chrono::milliseconds(50);

RunPort Resolve(const std::string& given, int index) {
    if (const auto number = PortNumber(given)) {
        return {"COM" + std::to_string(*number), *number, ""};
    }
    const int number = Settings::kMaxPort + 1 + index;
    // An adapter that is not there keeps its name: the run then reports the
    // port as not opened and why, in the same words as for a mapped COM<n>.
    std::string unresolved;
    MapPortName(number, given, unresolved);
    return {given, number, ""};
}

// A POSIX device path, absolute or relative, with every link followed
// (by-id names, simulator links); Windows device names stay as they are.
std::string DevicePath(const std::string& path) {
    return path.find('/') == std::string::npos ? path : CanonicalDevicePath(path);
}

// What the user is told on asking to stop a run that cannot be stopped.
std::string CannotStopText(char kind) {
    const PackageKind& row = FindPackageKind(kind);
    const std::string procedure = row.procedure != nullptr ? row.procedure : "current";
    return "the " + procedure + " run cannot be stopped; it ends by itself; Ctrl+C again quits now";
}

// How the boards of a station are shown: one board as a single run on a
// TerminalConsole, several on a StationConsole.
class StationView {
  public:
    StationView(std::FILE* out, const std::vector<std::string>& names, bool single,
                QueuedHandover& handover) {
        const bool terminal = IsTerminal(out);
        if (single) {
            single_ = std::make_unique<TerminalConsole>(out, terminal);
        } else {
            several_ = std::make_unique<StationConsole>(
                out, terminal && EnableCursorControl(out), names,
                [&handover](std::chrono::milliseconds wait) { handover.Serve(wait); });
        }
    }

    GangBoard board(std::size_t i) {
        if (single_) {
            return {single_.get(), single_.get(), single_.get()};
        }
        StationConsole::Board& view = several_->board(i);
        return {&view, &view, &view};
    }
    void message(std::size_t i, const std::string& text) {
        if (single_) {
            single_->message(text);
        } else {
            several_->message(i, text);
        }
    }
    // The board's last status text, escaped.
    std::string status(std::size_t i) {
        return single_ ? single_->status() : several_->board(i).status();
    }
    void message(const std::string& text) {
        if (single_) {
            single_->message(text);
        } else {
            several_->message(text);
        }
    }
    // Before the outcome's line: a single run's progress line is ended and,
    // after a success, shown full.
    void finished(const Outcome& outcome) {
        if (single_) {
            single_->finishLine();
            if (outcome.result == RunResult::Success) {
                single_->setPosition(INT32_MAX);
            }
        }
    }

  private:
    std::unique_ptr<TerminalConsole> single_;
    std::unique_ptr<StationConsole> several_;
};

}  // namespace

std::optional<std::vector<RunPort>> ResolvePorts(const CliOptions& options, int defaultPort,
                                                 std::FILE* err) {
    std::vector<std::string> given = options.ports;
    if (given.empty()) {
        given.push_back("COM" + std::to_string(defaultPort));
    }
    std::vector<RunPort> ports;
    std::map<std::string, std::string> devices;  // device to the port that named it
    for (std::size_t i = 0; i < given.size(); ++i) {
        ports.push_back(Resolve(given[i], static_cast<int>(i)));
        ports.back().device = DevicePath(PortResolver::instance().describe(ports.back().number));
        if (auto [at, added] = devices.emplace(ports.back().device, given[i]); !added) {
            std::fprintf(err, "korvel-cli: --port %s and --port %s are the same device %s\n",
                         PrintableText(at->second).c_str(), PrintableText(given[i]).c_str(),
                         PrintableText(ports.back().device).c_str());
            return std::nullopt;
        }
    }
    return ports;
}

bool ReadBoardIds(std::istream& in, std::FILE* prompt, std::vector<RunPort>& ports,
                  std::string& error) {
    for (RunPort& port : ports) {
        if (prompt != nullptr) {
            std::fprintf(prompt, "Board id for %s: ", PrintableText(port.name).c_str());
            std::fflush(prompt);
        }
        std::string line;
        if (!std::getline(in, line)) {
            error = "standard input ended before the board id for " + PrintableText(port.name) +
                    ": give one line per port";
            return false;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            error = "an empty board id for " + PrintableText(port.name) +
                    ": scan or type the board's id";
            return false;
        }
        port.boardId = line;
    }
    return true;
}

int ProgramStation(const CliOptions& options, const RunRequest& request, const StationOutput& out,
                   const std::function<bool()>& stopRequested) {
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
    std::vector<std::string> names;
    for (const RunPort& port : request.ports) {
        names.push_back(port.name);
    }
    const bool single = !options.station();
    StationView view(out.human, names, single, handover);
    std::vector<GangBoard> boards;
    for (std::size_t i = 0; i < request.ports.size(); ++i) {
        boards.push_back(view.board(i));
    }

    StationRecords records(StartedRecords(request), std::move(record), options.recordFile,
                           options.json ? out.records : nullptr,
                           [&](std::size_t i, const std::string& text) { view.message(i, text); });
    GangRun gang(handover, StandardDrivers());
    gang.OnBoardFinished = [&](std::size_t i, const RunRecord& run, const Outcome& outcome) {
        // On the disk before the outcome is shown: a station proves later
        // what it did from this file.
        records.Write(i, run);
        view.finished(outcome);
        view.message(i, OutcomeLine(outcome, run.port));
        if (options.verify != VerifyMode::None && !run.verified &&
            run.result == RunResult::Success) {
            view.message(i,
                         "Not verified: this package's loader did not check the flash "
                         "(the record says \"verified\": false)");
        }
    };
    for (std::size_t i = 0; i < request.ports.size(); ++i) {
        if (const auto& serial = request.ports[i].serial) {
            view.message(i, "Serial number " + std::to_string(*serial));
        }
    }
    // From here on a stop request never ends the process before every
    // board has its record line.
    SetStopMode(StopMode::LoopEnds);
    gang.Start(request, boards);

    StopRelay stops([&] { return gang.Stop(); },
                    single ? "Stopping... (Ctrl+C again to quit at once)"
                           : "Stopping every run... (Ctrl+C again to quit at once)",
                    CannotStopText(request.kind),
                    [&](const std::string& text) { view.message(text); });
    while (!gang.Finished()) {
        handover.Serve(kServeWait);
        if (StopRequests() > 1) {
            const int code = records.WriteStopped([&](std::size_t i) { return view.status(i); });
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
