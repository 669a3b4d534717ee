// How close the LPC ISP procedure comes to its bound: LPC2138 images in
// virtual time at 38400 baud, against a board that takes the datasheet's
// erase and programming times.
#include <map>

#include "bench/support/bench_main.h"
#include "sim/lpc_board.h"
#include "sim/lpc_hex_writer.h"

namespace {

using namespace korvel;
using namespace korvel::bench;

constexpr int kBaudRate = 38400;
constexpr const char* kChip = "LPC2138";

struct IspImage {
    BenchImage image;
    std::vector<sim::HexSegment> segments;
};

IspImage Image(std::string name, std::string description, std::vector<sim::HexSegment> segments) {
    IspImage i;
    i.image.name = std::move(name);
    i.image.description = std::move(description);
    const std::string hex = sim::WriteIntelHex(segments);
    i.image.entries.push_back({kChip, "1.00", 'F', {hex.begin(), hex.end()}, {0, 0}});
    i.segments = std::move(segments);
    return i;
}

}  // namespace

int main(int argc, char** argv) {
    const sim::LpcPart& part = *sim::FindLpcPart(kChip);
    const std::vector<IspImage> images = {
        Image("small", "16 KB at 0", {{0, Pattern(16 * 1024, 1)}}),
        Image("full", "500 KB: the whole flash", {{0, Pattern(500 * 1024, 2)}}),
        // Vectors and start-up, a library in a 32 KB sector, a record near the top.
        Image("sparse", "23 KB in 3 places of 500 KB",
              {{0, Pattern(3000, 3)}, {0x20000, Pattern(20000, 4)}, {0x7C000, Pattern(256, 5)}}),
    };
    std::map<std::string, const IspImage*> byName;
    BenchSpec spec;
    spec.title = std::string("LPC ISP procedure, ") + kChip + " at " + std::to_string(kBaudRate) +
                 " baud, in virtual time.";
    spec.board = "Board: erase 400 ms a sector, programming 1 ms per 256 bytes copied.";
    spec.prefix = "isp";
    for (const IspImage& i : images) {
        spec.images.push_back(i.image);
        byName[i.image.name] = &i;
    }
    spec.program = [&](const BenchImage& image, const TFilePro& package) {
        sim::LpcBoard::Options options;
        options.flashTiming = true;
        sim::LpcBoard board(part, options);
        BenchResult r;
        r.run = ProgramVirtually(package, board, kBaudRate);
        r.holdsImage = board.flash() ==
                       sim::ExpectedLpcFlash(byName.at(image.name)->segments, part.flashBytes());
        return r;
    };
    return BenchMain(argc, argv, spec);
}
