#pragma once

#include "jobs/generic_thread.h"
#include "jobs/run_result.h"

namespace korvel {

// Package kinds programmed through a board's resident loader.
inline constexpr char kResidentRelativeKind = '(';  // blocks by image offset
inline constexpr char kResidentAbsoluteKind = ')';  // sectors and blocks by flash address

// The driver of both kinds: entry 0 through the resident loader, the variant
// chosen by the package's kind. Registered for Stop.
Outcome RunResidentLoader(GenericThread& thread);

}  // namespace korvel
