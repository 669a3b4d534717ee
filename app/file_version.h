#pragma once

#include <string>

namespace korvel::app {

// The title's version from a file version "major.minor.release.build": major,
// a dot and minor with at least three digits ("1.64.0.44" gives "1.064").
// Minor is what stands between the first dot and the next dot or the end, so
// "1.64" gives "1.064" too; without a number there minor is 0 ("7" gives
// "7.000"). An empty version gives an empty text.
std::string FormatFileVersion(const std::string& fileVersion);

}  // namespace korvel::app
