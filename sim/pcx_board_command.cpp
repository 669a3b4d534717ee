#include "sim/pcx_board_command.h"

#include <charconv>
#include <cstdio>
#include <fstream>

namespace korvel::sim {

namespace {
// A number in decimal or, with 0x, in hex; the whole text must be the number.
bool ParseNumber(const std::string& text, std::uint32_t& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* first = text.data() + (hex ? 2 : 0);
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, value, hex ? 16 : 10);
    return ec == std::errc() && end == last && first != last;
}
}  // namespace

bool ParsePcxFaults(const std::vector<std::string>& names, PcxBoardFaults& faults,
                    std::string& error) {
    for (const std::string& name : names) {
        const auto eq = name.find('=');
        const std::string key = name.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : name.substr(eq + 1);
        std::uint32_t number = 0;
        if (name == "silent") {
            faults.silent = true;
        } else if (name == "busy-once") {
            faults.busyOnce = true;
        } else if (name == "refuse-erase-all") {
            faults.refuseEraseAll = true;
        } else if (key == "refuse-write" && ParseNumber(value, number)) {
            faults.refuseWriteAt = number;
        } else if (name == "other-loader") {
            faults.loaderId = "BOOTPLM200";
        } else if (name == "lowercase-id") {
            faults.loaderId = "bootplm300";
        } else if (name == "no-reboot-reply") {
            faults.noRebootReply = true;
        } else if (key == "answer-after" && ParseNumber(value, number) && number <= 1000000) {
            faults.ignoredPings = static_cast<int>(number);
        } else {
            error = "unknown fault '" + name + "'";
            return false;
        }
    }
    return true;
}

ServedModel ServePcxBoard(const ServeOptions& options, std::string& error) {
    PcxBoardFaults faults;
    if (!ParsePcxFaults(options.faults, faults, error)) {
        return {};
    }
    std::string version = "V2.10";
    for (const auto& [key, value] : options.extra) {
        if (key != "version") {
            error = "unknown option --" + key;
            return {};
        }
        version = value;
    }
    auto board = std::make_unique<PcxBoard>(faults, version);
    PcxBoard* unit = board.get();
    ServedModel served;
    served.model = std::move(board);
    if (!options.flashOut.empty()) {
        served.finish = [unit, file = options.flashOut] {
            std::ofstream out(file, std::ios::binary);
            out.write(reinterpret_cast<const char*>(unit->flash().data()),
                      static_cast<std::streamsize>(unit->flash().size()));
            if (!out) {
                std::fprintf(stderr, "korvel-sim pcx: cannot write '%s'\n", file.c_str());
            }
        };
    }
    return served;
}

}  // namespace korvel::sim
