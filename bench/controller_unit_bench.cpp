// How close the controller-unit procedure comes to its bound: images for the
// unit's programmable flash in virtual time at 57600 baud, against the
// controller-unit board model.
#include <algorithm>

#include "bench/support/bench_main.h"
#include "sim/pcx_board.h"

namespace {

using namespace korvel;
using namespace korvel::bench;

constexpr int kBaudRate = 57600;
// Image offset 0 lands at 32 KB; sectors 8 to 26 end at 500 KB.
constexpr std::size_t kImageBase = 0x8000;
constexpr std::size_t kProgrammableBytes = 0x7D000 - kImageBase;

BenchImage Image(std::string name, std::string description, std::vector<std::uint8_t> data) {
    BenchImage image;
    image.name = std::move(name);
    image.description = std::move(description);
    image.entries.push_back({"PCX", "2.11", 'G', std::move(data), {0, 0}});
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    BenchSpec spec;
    spec.title =
        "Controller-unit procedure at " + std::to_string(kBaudRate) + " baud, in virtual time.";
    spec.board =
        "Board: answers after 0.5 ms; erase 10 ms a sector, 2 ms a 1 KB block.\n"
        "Blocks of erased flash (all 0xFF) are skipped.";
    spec.prefix = "pcx";
    spec.images = {
        Image("small", "16 KB", Pattern(16 * 1024, 1)),
        Image("full", "468 KB: the whole programmable range", Pattern(kProgrammableBytes, 2)),
        Image("sparse", "23 KB in 3 places of 468 KB",
              SparseImage(kProgrammableBytes, {{0, 3000}, {0x20000, 20000}, {0x70000, 256}}, 3)),
    };
    spec.program = [](const BenchImage&, const TFilePro& package) {
        sim::PcxBoard board;
        BenchResult r;
        r.run = ProgramVirtually(package, board, kBaudRate);
        const auto size = static_cast<std::size_t>(package.entrySize(0));
        const auto& flash = board.flash();
        r.holdsImage = flash.size() >= kImageBase + size &&
                       std::equal(package.entryData(0), package.entryData(0) + size,
                                  flash.begin() + static_cast<std::ptrdiff_t>(kImageBase));
        return r;
    };
    return BenchMain(argc, argv, spec);
}
