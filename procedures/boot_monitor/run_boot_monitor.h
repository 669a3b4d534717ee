#pragma once

#include "jobs/generic_thread.h"

namespace korvel {

// Driver for packages of kind "9": entry 0 is the main image, entry 1 the
// optional second image of the flash stage.
Outcome RunBootMonitor(GenericThread& thread);

}  // namespace korvel
