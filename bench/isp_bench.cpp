// How close the LPC ISP procedure comes to its bound: LPC2138 images in
// virtual time at 38400 baud, against a board that takes the datasheet's
// erase and programming times. Then 40 KB at 38400 and 115200 baud, over a
// UART and behind a USB adapter's latency timer, against the line bound,
// and what verify adds: the chip's compare after each block, or the read-back.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "procedures/isp/isp_procedure.h"

#include "bench/support/bench_main.h"
#include "sim/lpc_board.h"
#include "sim/lpc_hex_writer.h"
#include "sim/usb_adapter.h"

namespace {

using namespace korvel;
using namespace korvel::bench;

constexpr int kBaudRate = 38400;
constexpr const char* kChip = "LPC2138";

struct IspImage {
    BenchImage image;
    std::vector<sim::HexSegment> segments;
};

constexpr VirtualNs kNsPerMs = 1'000'000;
constexpr double kNsPerS = 1e9;

// One run of the procedure itself (verify is its own option) on a paced line.
struct LineRun {
    bool ok = false;
    VirtualNs runNs = 0;
    // The line bound: every host character at the line rate plus the
    // chip's erase and programming time.
    VirtualNs lineBoundNs = 0;
};

LineRun RunOnLine(const sim::LpcPart& part, const std::vector<sim::HexSegment>& image, int baudRate,
                  VirtualNs adapterLatencyNs, VerifyMode verify) {
    sim::LpcBoard::Options options;
    options.flashTiming = true;
    sim::LpcBoard board(part, options);
    sim::UsbAdapterModel adapter(board, adapterLatencyNs);
    VirtualLineEnd& end = adapterLatencyNs > 0 ? static_cast<VirtualLineEnd&>(adapter) : board;
    std::vector<WireEvent> wire;
    VirtualSerialDevice::Options deviceOptions;
    deviceOptions.paced = true;
    deviceOptions.wireLog = &wire;
    auto device = std::make_unique<VirtualSerialDevice>(end, deviceOptions);
    VirtualSerialDevice* line = device.get();
    IspProcedure proc(std::move(device), 0x00, baudRate);
    proc.SetVerify(verify);
    const std::string hex = sim::WriteIntelHex(image);
    LineRun r;
    const bool opened = proc.Open();
    const VirtualNs start = line->now();
    r.ok = opened &&
           proc.Run({reinterpret_cast<const std::uint8_t*>(hex.data()), hex.size()}) ==
               RunResult::Success &&
           board.flash() == sim::ExpectedLpcFlash(image, part.flashBytes()) &&
           proc.learned.verified == (verify != VerifyMode::None);
    r.runNs = line->now() - start;
    proc.Close();
    std::size_t hostBytes = 0;
    for (const WireEvent& e : wire) {
        hostBytes += e.kind == WireEvent::Kind::HostByte ? 1 : 0;
    }
    r.lineBoundNs = static_cast<VirtualNs>(hostBytes) * CharacterTimeNs(LineSettings{baudRate}) +
                    board.flashBusyNs();
    return r;
}

void PrintLineSpeed(const sim::LpcPart& part) {
    const std::vector<sim::HexSegment> image = {{0, Pattern(40 * 1024, 6)}};
    std::printf(
        "\n40 KB into the %s, virtual time. Line bound: every host character at the line\n"
        "rate plus the chip's erase and programming time. What verify adds to the plain\n"
        "run: compare (\"M\" after each block's copy), read-back (the flash back over the\n"
        "line).\n\n",
        kChip);
    std::printf("%-7s %-14s %9s %9s %6s %10s %9s %11s %10s\n", "baud", "line", "bound s",
                "virtual s", "ratio", "compare +s", "compare %", "readback +s", "readback %");
    for (const int baud : {38400, 115200}) {
        for (const int latencyMs : {0, 16}) {
            const VirtualNs latency = latencyMs * kNsPerMs;
            const LineRun plain = RunOnLine(part, image, baud, latency, VerifyMode::None);
            const LineRun compared = RunOnLine(part, image, baud, latency, VerifyMode::Compare);
            const LineRun readBack = RunOnLine(part, image, baud, latency, VerifyMode::Readback);
            const std::string line =
                latencyMs == 0 ? "UART" : "adapter " + std::to_string(latencyMs) + " ms";
            const double compareExtra = static_cast<double>(compared.runNs - plain.runNs);
            const double readBackExtra = static_cast<double>(readBack.runNs - plain.runNs);
            const double plainNs = static_cast<double>(plain.runNs);
            std::printf("%-7d %-14s %9.2f %9.2f %6.3f %10.2f %8.1f%% %11.2f %9.1f%%%s\n", baud,
                        line.c_str(), static_cast<double>(plain.lineBoundNs) / kNsPerS,
                        plainNs / kNsPerS, plainNs / static_cast<double>(plain.lineBoundNs),
                        compareExtra / kNsPerS, 100 * compareExtra / plainNs,
                        readBackExtra / kNsPerS, 100 * readBackExtra / plainNs,
                        plain.ok && compared.ok && readBack.ok ? "" : "  FAILED");
        }
    }
}

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
        Image("40k", "40 KB at 0", {{0, Pattern(40 * 1024, 6)}}),
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
    const int status = BenchMain(argc, argv, spec);
    // The line-speed table is for people; scripts take the first table.
    const bool forScripts = std::any_of(argv + 1, argv + argc, [](const char* arg) {
        return std::strcmp(arg, "--tsv") == 0 || std::strcmp(arg, "--image") == 0;
    });
    if (status == 0 && !forScripts) {
        PrintLineSpeed(part);
    }
    return status;
}
