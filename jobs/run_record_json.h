#pragma once

#include <string>

#include "jobs/run_record.h"

namespace korvel {

// One record as a line of JSON (JSON Lines: one object, no line end).
// Texts the procedure did not learn (chip, part id) are null. A text that is
// not UTF-8 (a path, a package's name) has U+FFFD for each byte that is not,
// and its exact bytes in hex under the same key with "_hex" after it. The
// kind is the character of its byte's code point (ISO 8859-1): every byte.
std::string RunRecordJson(const RunRecord& record);

}  // namespace korvel
