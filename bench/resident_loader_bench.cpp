// How close the resident-loader procedure comes to its bound: both variants
// (blocks by image offset, kind '('; by flash address, kind ')') in virtual
// time at 57600 baud, against the resident-loader board model.
#include <algorithm>

#include "bench/support/bench_main.h"
#include "sim/resident_loader_model.h"

namespace {

using namespace korvel;
using namespace korvel::bench;

constexpr int kBaudRate = 57600;
// The loader's image area: from 96 KB to the end of the 512 KB flash.
constexpr std::size_t kAreaBytes =
    sim::ResidentLoaderModel::kFlashSize - sim::ResidentLoaderModel::kImageAreaStart;

BenchImage Image(char kind, std::string name, std::string description,
                 std::vector<std::uint8_t> data) {
    BenchImage image;
    image.name = std::string(kind == '(' ? "a-" : "b-") + name;
    image.description = std::move(description);
    image.entries.push_back({"BOARD", "1.00", kind, std::move(data), {0, 0}});
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    BenchSpec spec;
    spec.title = "Resident-loader procedure at " + std::to_string(kBaudRate) +
                 " baud, in virtual time. a-: blocks by image offset, b-: by flash address.";
    spec.board =
        "Board: erase 20 ms (a 32 KB sector, or the whole area on prepare), 2 ms a "
        "1 KB block.\nEvery block is sent, so a sparse image costs what a full one "
        "of its size does.";
    spec.prefix = "resident";
    for (char kind : {'(', ')'}) {
        spec.images.push_back(Image(kind, "small", "16 KB", Pattern(16 * 1024, 1)));
        spec.images.push_back(
            Image(kind, "full", "416 KB: the whole image area", Pattern(kAreaBytes, 2)));
        spec.images.push_back(
            Image(kind, "sparse", "5 KB in 3 places of 64 KB",
                  SparseImage(64 * 1024, {{0, 3000}, {30000, 2000}, {65000, 500}}, 3)));
    }
    spec.program = [](const BenchImage&, const TFilePro& package) {
        sim::ResidentLoaderModel board;
        BenchResult r;
        r.run = ProgramVirtually(package, board, kBaudRate);
        const auto area = board.imageArea();
        const auto size = static_cast<std::size_t>(package.entrySize(0));
        r.holdsImage = area.size() >= size &&
                       std::equal(area.begin(), area.begin() + static_cast<std::ptrdiff_t>(size),
                                  package.entryData(0));
        return r;
    };
    return BenchMain(argc, argv, spec);
}
