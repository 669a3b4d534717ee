#pragma once

#include "jobs/generic_thread.h"
#include "jobs/run_result.h"

namespace korvel {

// Driver of kind "G": programs entry 0 into the controller unit.
Outcome RunControllerUnit(GenericThread& thread);

// The run result of the procedure's own code: stopped gives Aborted; nothing
// to do, same version and programmed give Success; anything else is an error.
RunResult PcxRunResult(int code);

}  // namespace korvel
