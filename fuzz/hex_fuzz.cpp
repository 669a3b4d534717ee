// LoadHex on arbitrary text: a failure names its line, a success its highest
// address. Then the image read back the ways the ISP run reads it: what was
// never written reads as erased, requests outside the image change nothing,
// and the vector checksum always balances.
#include <cstdint>
#include <cstdlib>

#include "procedures/isp/flash_image.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::uint32_t Word(const std::uint8_t* b) {
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One image for the process, as the ISP run has; LoadHex resets it.
    static korvel::FlashImage image;
    const korvel::HexLoad load = image.LoadHex({data, size});
    using korvel::HexError;
    // A malformed record names its line; a text without data names none.
    Require((load.error == HexError::None || load.error == HexError::NoData) == (load.line == 0));
    Require(load.total >= 0);
    if (load.ok()) {
        // The highest address is the last byte that holds data.
        Require(load.highest >= 0 && image.AnyData(load.highest, load.highest));
        Require(!image.AnyData(load.highest + 1, korvel::FlashImage::kSize - 1));
    }
    Require(load.error != HexError::NoData || !image.AnyData(0, korvel::FlashImage::kSize - 1));

    // Probe ranges named by the input's own bytes, plus the image's edges.
    std::uint32_t seed = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) {
        seed = (seed ^ data[i]) * 16777619u;
    }
    std::int32_t probes[8] = {0, 0x14, 0x7FFC0, 0x7FFFC, -8, 0x80000, 0, 0};
    probes[6] = static_cast<std::int32_t>(seed % 0x80000);
    probes[7] = static_cast<std::int32_t>((seed >> 13) % 0x80000);
    for (std::int32_t start : probes) {
        std::uint8_t bytes[64];
        image.ReadImage(start, sizeof bytes, bytes);
        for (std::int32_t i = 0; i < 64; ++i) {
            const std::int32_t a = start + i;
            if (!image.AnyData(a, a)) {
                Require(bytes[i] == 0xFF);
            }
        }
    }
    // The last byte can never hold data; ranges reaching outside hold none.
    Require(!image.AnyData(0x7FFFF, 0x7FFFF));
    Require(!image.AnyData(0x7FF00, 0x80000) && !image.AnyData(-1, 10) && !image.AnyData(10, 9));

    image.SetVectorChecksum();
    std::uint8_t vectors[32];
    image.ReadImage(0, sizeof vectors, vectors);
    std::uint32_t sum = 0;
    for (int i = 0; i < 8; ++i) {
        sum += Word(vectors + 4 * i);
    }
    Require(sum == 0 && image.AnyData(0x14, 0x17));

    // The first bytes of the input as one data line.
    const int n = static_cast<int>(size % 46);
    const std::string line = korvel::UuencodeLine({data, size}, n);
    Require(line.size() == static_cast<std::size_t>(1 + 4 * ((n + 2) / 3)));
    for (char c : line) {
        Require(c > ' ' && c <= '`');
    }
    return 0;
}
