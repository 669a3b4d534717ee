#include "sim/resident_loader_command.h"

#include <cstdio>
#include <fstream>

#include "sim/resident_loader_model.h"

namespace korvel::sim {

ServedModel MakeResidentLoader(const ServeOptions& options, std::string& error) {
    if (!options.extra.empty()) {
        error = "unknown option '--" + options.extra.begin()->first + "'";
        return {};
    }
    ResidentLoaderFaults faults;
    for (const std::string& fault : options.faults) {
        if (!ParseResidentLoaderFault(fault, faults, error)) {
            return {};
        }
    }
    auto model = std::make_unique<ResidentLoaderModel>(faults);
    ResidentLoaderModel& board = *model;
    ServedModel served;
    served.model = std::move(model);
    served.finish = [&board, path = options.flashOut] {
        if (!board.unerasedWrites().empty()) {
            std::fprintf(stderr, "korvel-sim resident: %zu writes into flash that was not erased\n",
                         board.unerasedWrites().size());
        }
        if (path.empty()) {
            return;
        }
        const auto area = board.imageArea();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(area.data()),
                  static_cast<std::streamsize>(area.size()));
        if (!out) {
            std::fprintf(stderr, "korvel-sim resident: cannot write '%s'\n", path.c_str());
        }
    };
    return served;
}

}  // namespace korvel::sim
