// How close the boot-monitor procedure comes to its bound: main images (and,
// with a second image, the flash stage) in virtual time at 115200 baud,
// against the boot-monitor board model.
#include "bench/support/bench_main.h"
#include "sim/boot_monitor_model.h"

namespace {

using namespace korvel;
using namespace korvel::bench;

constexpr int kBaudRate = 115200;
constexpr std::uint32_t kMainAddress = 0x80000000;
constexpr std::uint32_t kSecondAddress = 0x83fa0000;

BenchImage Image(std::string name, std::string description, std::vector<std::uint8_t> main,
                 std::vector<std::uint8_t> second) {
    BenchImage image;
    image.name = std::move(name);
    image.description = std::move(description);
    image.entries.push_back({"RV4500", "1.00", '9', std::move(main), {0, 0}});
    if (!second.empty()) {
        image.entries.push_back({"RV4500", "1.00", '9', std::move(second), {0, 0}});
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    BenchSpec spec;
    spec.title =
        "Boot-monitor procedure at " + std::to_string(kBaudRate) + " baud, in virtual time.";
    spec.board =
        "Board: powered on 300 ms after the host opens the line; answers commands "
        "after 20 ms, saves in 200 ms.\nRaw transfers send every byte: a sparse "
        "image costs what a full one of its size does.";
    spec.prefix = "monitor";
    spec.images = {
        Image("small", "16 KB, no flash stage", Pattern(16 * 1024, 1), {}),
        Image("full", "1 MB + 384 KB flash stage", Pattern(1024 * 1024, 2), Pattern(384 * 1024, 3)),
        Image("sparse", "64 KB (5 KB in 3 places) + 16 KB",
              SparseImage(64 * 1024, {{0, 3000}, {30000, 2000}, {65000, 500}}, 4),
              Pattern(16 * 1024, 5)),
    };
    spec.program = [](const BenchImage& image, const TFilePro& package) {
        sim::BootMonitorModel board;
        BenchResult r;
        r.run = ProgramVirtually(package, board, kBaudRate);
        const auto& images = board.images();
        auto holds = [&](std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
            const auto it = images.find(address);
            return it != images.end() && it->second == bytes;
        };
        r.holdsImage = holds(kMainAddress, image.entries[0].data) &&
                       (image.entries.size() < 2 || holds(kSecondAddress, image.entries[1].data));
        return r;
    };
    return BenchMain(argc, argv, spec);
}
