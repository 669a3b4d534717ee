#pragma once

#include "jobs/outcome.h"

namespace korvel {

class GenericThread;

// The driver of package kinds "'" and "F": programs entry 0 (Intel HEX) into
// an LPC2000 chip through its ISP boot loader, at the run's baud rate.
Outcome RunIsp(GenericThread& thread);

}  // namespace korvel
