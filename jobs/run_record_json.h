#pragma once

#include <string>

#include "jobs/run_record.h"

namespace korvel {

// One record as a line of JSON (JSON Lines: one object, no line end).
// Texts the procedure did not learn (chip, part id) are null.
std::string RunRecordJson(const RunRecord& record);

}  // namespace korvel
