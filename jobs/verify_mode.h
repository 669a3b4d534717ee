#pragma once

#include <cstdint>

namespace korvel {

// How a run checks the flash it wrote, where the kind's loader can: not at
// all, by the chip comparing each block with the RAM copy it came from, or by
// reading the whole of it back over the line.
enum class VerifyMode : std::uint8_t { None, Compare, Readback };

// "compare", "readback"; null for None.
constexpr const char* VerifyModeName(VerifyMode mode) {
    switch (mode) {
        case VerifyMode::Compare:
            return "compare";
        case VerifyMode::Readback:
            return "readback";
        case VerifyMode::None:
            break;
    }
    return nullptr;
}

}  // namespace korvel
