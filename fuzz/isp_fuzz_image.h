#pragma once

#include <string>

namespace korvel::fuzz {

// The firmware every ISP dialogue input is played against (and recorded
// with): 16 bytes at address 0, so a run is one block and the jump program.
const std::string& IspFuzzImage();

}  // namespace korvel::fuzz
