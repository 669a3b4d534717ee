#include "sim/lpc_sim_command.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "sim/lpc_board.h"
#include "util/decimal.h"

namespace korvel::sim {

const char* const kLpcSimUsage =
    "--chip NAME|ID [--baud N] [--flash-in FILE]\n"
    "             an LPC2000 chip in its ISP boot loader (LPC2104 ... LPC2468). --baud:\n"
    "             the line rate until the host sets one; --flash-in: flash contents at\n"
    "             power-on; --paced adds the erase and programming times. Faults:\n"
    "             silent no-echo unknown-id refuse-unlock refuse-erase resend-once\n"
    "             resend-always drop-byte garble-echo echo-probe sync-garbage go-silent\n"
    "             go-error weak-cell read-noise stopped-transfer";

namespace {

bool WriteDump(const std::string& path, const std::vector<std::uint8_t>& flash) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(flash.data()),
              static_cast<std::streamsize>(flash.size()));
    return static_cast<bool>(out);
}

}  // namespace

ServedModel MakeLpcSim(const ServeOptions& options, std::string& error) {
    std::string chip;
    int baud = 38400;
    std::string flashIn;
    for (const auto& [key, value] : options.extra) {
        if (key == "chip") {
            chip = value;
        } else if (key == "baud") {
            const auto given = ParseDecimal<int>(value);
            if (!given || *given <= 0) {
                error = "--baud takes a positive number, not '" + value + "'";
                return {};
            }
            baud = *given;
        } else if (key == "flash-in") {
            flashIn = value;
        } else {
            error = "unknown option --" + key;
            return {};
        }
    }
    const LpcPart* part = FindLpcPart(chip);
    if (part == nullptr) {
        error = chip.empty() ? "--chip NAME is required (for example --chip LPC2138)"
                             : "unknown chip '" + chip + "'";
        return {};
    }
    LpcBoard::Options boardOptions;
    boardOptions.flashTiming = options.paced;
    for (const std::string& name : options.faults) {
        const auto fault = ParseLpcFault(name);
        if (!fault) {
            error = "unknown fault '" + name + "'; faults: " + LpcFaultNames();
            return {};
        }
        boardOptions.faults.insert(*fault);
    }
    if (!flashIn.empty()) {
        std::ifstream in(flashIn, std::ios::binary);
        if (!in) {
            error = "cannot read '" + flashIn + "'";
            return {};
        }
        boardOptions.flash.assign(std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>());
    }

    auto board = std::make_unique<LpcBoard>(*part, std::move(boardOptions));
    board->hostLineSettings(0, LineSettings{baud});
    LpcBoard* model = board.get();
    const std::string dumpPath = options.flashOut;
    auto dump = [model, dumpPath] {
        if (!dumpPath.empty() && !WriteDump(dumpPath, model->flash())) {
            std::fprintf(stderr, "korvel-sim lpc: cannot write '%s'\n", dumpPath.c_str());
        }
    };
    // The host is done once the loader has handed over: save the flash then.
    model->onStarted = dump;
    ServedModel served;
    served.model = std::move(board);
    served.finish = [model, dump] {
        dump();
        const auto& started = model->started();
        std::printf("korvel-sim lpc: %s, %zu commands, %d data lines, %d resends; %s\n",
                    model->part().name, model->commands().size(), model->dataLines(),
                    model->resends(),
                    !started                   ? "still in the boot loader"
                    : started->reachedUserCode ? "the new firmware was started"
                                               : ("go: " + started->fault).c_str());
        std::fflush(stdout);
    };
    return served;
}

}  // namespace korvel::sim
