#include "sim/boot_monitor_command.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "sim/boot_monitor_model.h"

namespace korvel::sim {

namespace {

// On a pty the host's silence stands for its BREAK: longer than the 11 ms
// between chunks, shorter than the 300 ms the host waits before breaking.
constexpr long kPtyBreakSilenceMs = 200;

bool Milliseconds(const std::string& text, long& value) {
    try {
        std::size_t used = 0;
        value = std::stol(text, &used);
        return used == text.size() && value >= 0 && value <= 600000;
    } catch (const std::exception&) {
        return false;
    }
}

void Say(const std::string& line) {
    std::printf("korvel-sim monitor: %s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

const char* const kBootMonitorUsage =
    "[--out-dir DIR] [--power-on-ms N] [--break-silence-ms N]\n"
    "             boot-monitor board (packages of kind '9'). Power comes on N ms\n"
    "             (default 300) after the host sets 115200 baud. A pty carries no\n"
    "             BREAK: a raw transfer ends after N ms of host silence (default\n"
    "             200). At the end every image received is written to\n"
    "             DIR/<load address>.bin. Faults: running, build-date-only,\n"
    "             no-prompt, no-done, refuse[@ADDR], mute-load[@ADDR],\n"
    "             ignore-break[@ADDR], mute-nsave, mute-aboot, mute-prompt.";

ServedModel ServeBootMonitor(const ServeOptions& options, std::string& error) {
    BootMonitorConfig config;
    config.breakSilence = kPtyBreakSilenceMs * BoardModel::kMs;
    std::string outDir;
    for (const auto& [key, value] : options.extra) {
        long ms = 0;
        if (key == "out-dir") {
            outDir = value;
        } else if ((key == "power-on-ms" || key == "break-silence-ms") && Milliseconds(value, ms)) {
            (key == "power-on-ms" ? config.powerOnDelay : config.breakSilence) =
                static_cast<VirtualNs>(ms) * BoardModel::kMs;
        } else {
            error = "bad option --" + key + " " + value;
            return {};
        }
    }
    if (!options.flashOut.empty()) {
        error = "the monitor keeps one image per load address: use --out-dir DIR";
        return {};
    }
    for (const std::string& fault : options.faults) {
        if (!AddBootMonitorFault(fault, config.faults, error)) {
            return {};
        }
    }

    auto model = std::make_unique<BootMonitorModel>(config);
    BootMonitorModel* board = model.get();
    board->setLogger(Say);
    auto finish = [board, outDir] {
        for (const auto& [address, image] : board->images()) {
            char name[32];
            std::snprintf(name, sizeof name, "0x%08x.bin", address);
            Say("image " + std::string(name, 10) + ": " + std::to_string(image.size()) + " bytes");
            if (outDir.empty()) {
                continue;
            }
            const std::filesystem::path file = std::filesystem::path(outDir) / name;
            std::ofstream out(file, std::ios::binary);
            out.write(reinterpret_cast<const char*>(image.data()),
                      static_cast<std::streamsize>(image.size()));
            if (!out) {
                std::fprintf(stderr, "korvel-sim monitor: cannot write %s\n",
                             file.string().c_str());
            }
        }
    };
    return {std::move(model), std::move(finish)};
}

}  // namespace korvel::sim
