#pragma once

namespace korvel {

// Exit codes of the front ends besides a run's result (0 to 5): korvel-cli's,
// and the window's when it runs unattended (-U), where nobody can help a run
// start.
inline constexpr int kExitUsage = 64;  // wrong usage, a setting that does not read, no AutoRun
inline constexpr int kExitBadPackage = 66;
// The production record failed: the record file could not be opened, or a line
// did not reach it or standard output; whether or not boards ran.
inline constexpr int kExitRecordFailed = 74;
inline constexpr int kExitAccessCode = 77;  // wrong, or nobody there to type it

}  // namespace korvel
