// korvel-sim: board simulators served on a pty, and a package builder for
// tests and demos.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <atomic>
#include <csignal>

#include "sim/package_writer.h"
#include "sim/pty_server.h"
#include "sim/sim_commands.h"
#include "util/decimal.h"

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void OnStopSignal(int) {
    stopRequested = true;
}

// FTDI adapters take latency timers from 1 to 255 ms; 0 passes bytes at once.
constexpr unsigned kMaxLatencyMs = 255;

int Usage(std::FILE* out, int code) {
    std::fprintf(out,
                 "Usage:\n"
                 "  korvel-sim MODEL [--paced] [--latency-ms N] [--fault F]... [--flash-out FILE]\n"
                 "             [--link PATH] [MODEL OPTIONS]\n"
                 "      Serve a board model on a pty until SIGINT or SIGTERM, then write the\n"
                 "      board's memory to FILE. --paced sends at the line rate of the baud\n"
                 "      rate the host sets; --latency-ms puts a USB adapter between board\n"
                 "      and host that passes the board's bytes on when it holds 62 of them\n"
                 "      or N ms after the first; --link makes PATH a symlink to the pty.\n"
                 "  korvel-sim pack -o OUT.pr2 ENTRY...\n"
                 "      ENTRY is KIND:NAME:VERSION:DATAFILE; the first entry's kind\n"
                 "      selects the procedure (for example F:LPC2138:1.00:fw.hex).\n"
                 "  korvel-sim --version\n"
                 "Models:\n");
    for (const auto& command : korvel::sim::SimCommands()) {
        std::fprintf(out, "  %-10s %s\n", command.name, command.usage);
    }
    return code;
}

int Serve(const korvel::sim::SimCommand& command, const std::vector<std::string>& args) {
    korvel::sim::ServeOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--paced") {
            options.paced = true;
        } else if (arg.rfind("--", 0) == 0 && hasValue) {
            const std::string& value = args[++i];
            if (arg == "--fault") {
                options.faults.push_back(value);
            } else if (arg == "--flash-out") {
                options.flashOut = value;
            } else if (arg == "--link") {
                options.link = value;
            } else if (arg == "--latency-ms") {
                options.latencyMs = korvel::ParseDecimalAtMost(value, kMaxLatencyMs);
                if (!options.latencyMs) {
                    std::fprintf(stderr,
                                 "korvel-sim: --latency-ms takes milliseconds from 0 to %u, not "
                                 "'%s'\n",
                                 kMaxLatencyMs, value.c_str());
                    return 64;
                }
            } else {
                options.extra[arg.substr(2)] = value;
            }
        } else {
            std::fprintf(stderr, "korvel-sim: unexpected argument '%s'\n", arg.c_str());
            return Usage(stderr, 64);
        }
    }
    std::string error;
    korvel::sim::ServedModel served = command.make(options, error);
    if (!served.model) {
        std::fprintf(stderr, "korvel-sim %s: %s\n", command.name, error.c_str());
        return 64;
    }
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    std::optional<korvel::VirtualNs> latency;
    if (options.latencyMs) {
        latency = *options.latencyMs * korvel::sim::BoardModel::kMs;
    }
    korvel::sim::PtyServer server(*served.model, options.link, options.paced, latency);
    std::printf("korvel-sim: %s board on %s\n", command.name, server.devicePath().c_str());
    std::fflush(stdout);
    server.run(stopRequested);
    if (served.finish) {
        served.finish();
    }
    return 0;
}

int Pack(const std::vector<std::string>& args) {
    std::string output;
    std::vector<korvel::sim::PackageEntry> entries;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size()) {
            output = args[++i];
            continue;
        }
        const std::string& spec = args[i];
        const auto a = spec.find(':');
        const auto b = a == std::string::npos ? a : spec.find(':', a + 1);
        const auto c = b == std::string::npos ? b : spec.find(':', b + 1);
        if (c == std::string::npos || a != 1) {
            std::fprintf(stderr, "korvel-sim: bad entry '%s' (want KIND:NAME:VERSION:DATAFILE)\n",
                         spec.c_str());
            return 64;
        }
        korvel::sim::PackageEntry e;
        e.kind = spec[0];
        e.name = spec.substr(a + 1, b - a - 1);
        e.version = spec.substr(b + 1, c - b - 1);
        const std::string file = spec.substr(c + 1);
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "korvel-sim: cannot read '%s'\n", file.c_str());
            return 66;
        }
        e.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        entries.push_back(std::move(e));
    }
    if (output.empty() || entries.empty()) {
        return Usage(stderr, 64);
    }
    const auto bytes = korvel::sim::BuildPackage(entries);
    std::ofstream out(output, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "korvel-sim: cannot write '%s'\n", output.c_str());
        return 73;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        return Usage(stdout, args.empty() ? 64 : 0);
    }
    if (args[0] == "--version") {
        std::printf("korvel-sim %s\n", KORVEL_VERSION);
        return 0;
    }
    if (args[0] == "pack") {
        return Pack({args.begin() + 1, args.end()});
    }
    for (const auto& command : korvel::sim::SimCommands()) {
        if (args[0] == command.name) {
            return Serve(command, {args.begin() + 1, args.end()});
        }
    }
    std::fprintf(stderr, "korvel-sim: unknown command '%s'\n", args[0].c_str());
    return Usage(stderr, 64);
}
