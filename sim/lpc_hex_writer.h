#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvel::sim {

// Bytes placed at an address of a firmware image.
struct HexSegment {
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
};

// The Intel HEX text of LPC firmware as toolchains write it: CR LF lines,
// data records of up to recordBytes bytes that never cross a 64 KB boundary,
// an extended linear address record (type 04) whenever the upper half of the
// address changes, and the end-of-file record.
std::string WriteIntelHex(const std::vector<HexSegment>& segments, int recordBytes = 16);

// The flash a chip of flashBytes holds once the segments are programmed over
// erased flash and the word at 0x14 makes the eight vectors add up to 0.
std::vector<std::uint8_t> ExpectedLpcFlash(const std::vector<HexSegment>& segments,
                                           std::uint32_t flashBytes);

}  // namespace korvel::sim
