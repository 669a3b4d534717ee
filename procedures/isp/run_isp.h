#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jobs/outcome.h"

namespace korvel {

class GenericThread;

// The driver of package kinds "'" and "F": programs entry 0 (Intel HEX) into
// an LPC2000 chip through its ISP boot loader, at the run's baud rate.
Outcome RunIsp(GenericThread& thread);

// What is wrong with entry 0's Intel HEX text, checked before any board is
// touched: "line 3: not a hex digit"; empty when it loads.
std::string IspImageProblem(std::span<const std::uint8_t> text);

// Writes `bytes` at flash address `at` into entry 0's HEX text (the records
// that hold them rewritten, the rest as it was); empty when done, else why
// not: the bytes lie in the first 64 bytes (the vectors and their checksum
// word, which no check can read back) or not all inside the image's data.
std::string IspPatchImage(std::vector<std::uint8_t>& text, std::uint32_t at,
                          std::span<const std::uint8_t> bytes);

}  // namespace korvel
