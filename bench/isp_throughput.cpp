// How close the ISP procedure comes to the line: programs LPC2138 images in
// virtual time over a line paced at 38400 baud, against a board that takes
// the datasheet's erase and programming times, and sets each run beside its
// lower bound (the line time of every character the host must send plus the
// board's erase and programming time).
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "procedures/isp/isp_procedure.h"
#include "serial/virtual_serial_device.h"
#include "sim/lpc_board.h"
#include "sim/lpc_hex_writer.h"

namespace {

using namespace korvel;

constexpr int kBaudRate = 38400;
constexpr double kNsPerS = 1e9;

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<std::uint8_t>(seed >> 16);
    }
    return bytes;
}

struct Figures {
    bool ok = false;
    std::size_t hostChars = 0;
    double runSeconds = 0;
    double boundSeconds = 0;
};

Figures Program(const std::vector<sim::HexSegment>& image) {
    const sim::LpcPart& part = *sim::FindLpcPart("LPC2138");
    sim::LpcBoard::Options options;
    options.flashTiming = true;
    sim::LpcBoard board(part, options);
    std::vector<WireEvent> wire;
    VirtualSerialDevice::Options line;
    line.paced = true;
    line.wireLog = &wire;
    auto device = std::make_unique<VirtualSerialDevice>(board, line);
    VirtualSerialDevice* dev = device.get();
    IspProcedure proc(std::move(device), 0x00, kBaudRate);
    const std::string hex = sim::WriteIntelHex(image);
    Figures f;
    f.ok = proc.Open() &&
           proc.Run(reinterpret_cast<const std::uint8_t*>(hex.data()),
                    static_cast<std::int32_t>(hex.size())) == RunResult::Success &&
           board.flash() == sim::ExpectedLpcFlash(image, part.flashBytes());
    for (const WireEvent& e : wire) {
        f.hostChars += e.kind == WireEvent::Kind::HostByte ? 1 : 0;
    }
    // The board's busy time: one erase per "E", 1 ms per 256 bytes copied.
    VirtualNs flashNs = 0;
    for (const std::string& command : board.commands()) {
        std::istringstream words(command);
        std::string verb;
        std::uint32_t a = 0, b = 0, count = 0;
        words >> verb >> a >> b >> count;
        if (verb == "E") {
            flashNs += sim::LpcBoard::kEraseNs;
        } else if (verb == "C") {
            flashNs += count / 256 * sim::BoardModel::kMs;
        }
    }
    const VirtualNs lineNs = f.hostChars * CharacterTimeNs(LineSettings{kBaudRate});
    f.runSeconds = static_cast<double>(dev->now()) / kNsPerS;
    f.boundSeconds = static_cast<double>(lineNs + flashNs) / kNsPerS;
    return f;
}

void Report(const char* name, std::size_t dataBytes, const Figures& f) {
    std::printf("%-26s %8zu %10zu %9.1f %9.1f %7.3f%s\n", name, dataBytes, f.hostChars,
                f.runSeconds, f.boundSeconds, f.runSeconds / f.boundSeconds,
                f.ok ? "" : "  (FAILED: flash differs or run failed)");
}

}  // namespace

int main() {
    std::printf(
        "LPC ISP throughput, LPC2138 at %d baud in virtual time (paced line, erase\n"
        "400 ms, programming 1 ms per 256 bytes). Bound: the line time of every\n"
        "host character plus the board's erase and programming time.\n\n",
        kBaudRate);
    std::printf("%-26s %8s %10s %9s %9s %7s\n", "image", "bytes", "host chars", "run s", "bound s",
                "ratio");

    const std::vector<sim::HexSegment> full = {{0, Pattern(500 * 1024, 1)}};
    Report("full 500 KB", 500 * 1024, Program(full));

    // Vectors and start-up, a library in a 32 KB sector, a record at the top.
    const std::vector<sim::HexSegment> sparse = {
        {0, Pattern(3000, 2)}, {0x20000, Pattern(20000, 3)}, {0x7C000, Pattern(256, 4)}};
    Report("sparse 23 KB in 3 places", 3000 + 20000 + 256, Program(sparse));
    return 0;
}
