#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/package_writer.h"

namespace korvel::bench {

// Reproducible bytes that look like code: no long runs of 0xFF, so a
// procedure that skips erased blocks skips only what the image leaves out.
std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed);

// `size` bytes of erased flash (0xFF) with `pieces` of pattern at their offsets.
struct Piece {
    std::size_t offset;
    std::size_t length;
};
std::vector<std::uint8_t> SparseImage(std::size_t size, const std::vector<Piece>& pieces,
                                      std::uint32_t seed);

// One image a bench programs: a row of its table.
struct BenchImage {
    std::string name;         // "small", "full", "sparse": the row's key
    std::string description;  // what the image holds, for the table
    std::vector<sim::PackageEntry> entries;
};

}  // namespace korvel::bench
