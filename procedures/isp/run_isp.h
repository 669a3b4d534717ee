#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "jobs/outcome.h"

namespace korvel {

class GenericThread;

// The driver of package kinds "'" and "F": programs entry 0 (Intel HEX) into
// an LPC2000 chip through its ISP boot loader, at the run's baud rate.
Outcome RunIsp(GenericThread& thread);

// What is wrong with entry 0's Intel HEX text, checked before any board is
// touched: "line 3: not a hex digit"; empty when it loads.
std::string IspImageProblem(std::span<const std::uint8_t> text);

}  // namespace korvel
