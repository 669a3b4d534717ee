#include "sim/lpc_parts.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "util/decimal.h"

namespace korvel::sim {

namespace {

constexpr std::uint32_t kK = 1024;
using Run = std::pair<std::uint32_t, std::uint32_t>;

// Sector layouts from the user manuals, top boot block excluded.
constexpr auto kUniform8K = std::to_array<Run>({{16, 8 * kK}});
constexpr auto kMixed8K64K = std::to_array<Run>({{8, 8 * kK}, {2, 64 * kK}, {8, 8 * kK}});
constexpr auto kMixed4K32K = std::to_array<Run>({{8, 4 * kK}, {14, 32 * kK}, {6, 4 * kK}});

using enum LpcFlashFamily;

// clang-format off
constexpr auto kParts = std::to_array<LpcPart>({
    // name      part id     RAM      family   user sectors layout
    {"LPC2104",  0xFFF0FF12, 16 * kK, Page512, 15, kUniform8K},
    {"LPC2105",  0xFFF0FF22, 32 * kK, Page512, 15, kUniform8K},
    {"LPC2106",  0xFFF0FF32, 64 * kK, Page512, 15, kUniform8K},
    {"LPC2114",  0x0101FF12, 16 * kK, Page512, 15, kUniform8K},
    {"LPC2119",  0x0201FF12, 16 * kK, Page512, 15, kUniform8K},
    {"LPC2124",  0x0101FF13, 16 * kK, Page512, 17, kMixed8K64K},
    {"LPC2129",  0x0201FF13, 16 * kK, Page512, 17, kMixed8K64K},
    {"LPC2131",  0x0002FF01,  8 * kK, Page256,  8, kMixed4K32K},
    {"LPC2132",  0x0002FF11, 16 * kK, Page256,  9, kMixed4K32K},
    {"LPC2134",  0x0002FF12, 16 * kK, Page256, 11, kMixed4K32K},
    {"LPC2136",  0x0002FF23, 32 * kK, Page256, 15, kMixed4K32K},
    {"LPC2138",  0x0002FF25, 32 * kK, Page256, 27, kMixed4K32K},
    {"LPC2141",  0x0402FF01,  8 * kK, Page256,  8, kMixed4K32K},
    {"LPC2142",  0x0402FF11, 16 * kK, Page256,  9, kMixed4K32K},
    {"LPC2144",  0x0402FF12, 16 * kK, Page256, 11, kMixed4K32K},
    {"LPC2146",  0x0402FF23, 32 * kK, Page256, 15, kMixed4K32K},
    {"LPC2148",  0x0402FF25, 32 * kK, Page256, 27, kMixed4K32K},
    {"LPC2194",  0x0301FF13, 16 * kK, Page512, 17, kMixed8K64K},
    {"LPC2212",  0x0401FF12, 16 * kK, Page512, 15, kUniform8K},
    {"LPC2214",  0x0601FF13, 16 * kK, Page512, 17, kMixed8K64K},
    {"LPC2292",  0x0401FF13, 16 * kK, Page512, 17, kMixed8K64K},
    {"LPC2294",  0x0501FF13, 16 * kK, Page512, 17, kMixed8K64K},
    {"LPC2103",  0x0004FF11,  8 * kK, Page256,  8, kMixed4K32K},
    {"LPC2364",  0x0603FB02,  8 * kK, Page256, 11, kMixed4K32K},
    {"LPC2366",  0x0603FB23, 32 * kK, Page256, 15, kMixed4K32K},
    {"LPC2366",  0x1600F923, 32 * kK, Page256, 15, kMixed4K32K},  // later revision
    {"LPC2368",  0x1600F925, 32 * kK, Page256, 28, kMixed4K32K},
    {"LPC2378",  0x0703FF25, 32 * kK, Page256, 28, kMixed4K32K},
    {"LPC2468",  0x0603FF35, 64 * kK, Page256, 28, kMixed4K32K},
});
// clang-format on

bool SameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}

}  // namespace

std::vector<std::uint32_t> LpcPart::sectorSizes() const {
    std::vector<std::uint32_t> sizes;
    for (const auto& [count, size] : layout) {
        for (std::uint32_t i = 0; i < count && sizes.size() < sectorCount; ++i) {
            sizes.push_back(size);
        }
    }
    return sizes;
}

std::uint32_t LpcPart::flashBytes() const {
    std::uint32_t total = 0;
    for (std::uint32_t size : sectorSizes()) {
        total += size;
    }
    return total;
}

std::span<const LpcPart> LpcParts() {
    return kParts;
}

const LpcPart* FindLpcPart(std::string_view nameOrId) {
    const auto id = ParseDecimal<std::uint32_t>(nameOrId);
    for (const LpcPart& part : kParts) {
        if (id ? part.partId == *id : SameName(part.name, nameOrId)) {
            return &part;
        }
    }
    return nullptr;
}

}  // namespace korvel::sim
