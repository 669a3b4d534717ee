#pragma once

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "jobs/dialog_service.h"
#include "jobs/run_request.h"
#include "jobs/serial_number.h"
#include "package/tfilepro.h"
#include "serial/reset_lines.h"

namespace korvel {

// What the user chose for a run, as a front end knows it.
struct RunChoices {
    std::vector<RunPort> ports;  // one or more
    int baudRate = 0;
    // The wiring given for this run (korvel-cli's --reset-lines); without
    // it the settings' text is read.
    std::optional<ResetLines> resetLines;
    std::string resetLinesSetting = "none";
    std::string settingsFile;  // names the setting in messages
    VerifyMode verify = VerifyMode::None;
    // The package's SHA-256 in hex (either case) when it is pinned
    // (korvel-cli's --expect-sha256, else the settings' ExpectSha256); empty:
    // any package.
    std::string expectSha256;
    // Each board's serial number written into its image, from a counter
    // file or from the board ids; none when not given.
    std::optional<SerialChoice> serial;
};

// Whether text is a SHA-256 in hex: 64 hex digits, either case.
bool IsSha256Hex(const std::string& text);

// A pin as TFilePro::sha256() writes hashes (lower case), to compare with one.
std::string PinnedSha256(std::string pin);

// Why a run did not start: the front end's exit code (or the window's, when
// unattended) and what to tell the user; empty when the user has already
// been told (a wrong access code).
struct RunRefusal {
    int exitCode = 0;
    std::string message;
};

// The steps before every run, the same for every front end: the package is
// loaded again when it changed on disk (packageReloaded is told whether it
// still loads), the access code is asked where the kind needs one (dialogs
// null: nobody is there to type it), the reset wiring is read where the
// kind's procedure drives it; a pinned package with another hash is refused
// (66) before anything is asked; serial numbers that cannot be written are
// refused (64). Last, when all else holds, each board's serial number is
// taken (the counter advanced on the disk, 74 when it cannot be) and written
// into its copy of the image. Then the request for the package as loaded.
std::variant<RunRequest, RunRefusal> PrepareRun(
    TFilePro& package, const RunChoices& choices, DialogService* dialogs,
    const std::function<void(bool loads)>& packageReloaded);

}  // namespace korvel
