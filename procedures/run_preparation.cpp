#include "procedures/run_preparation.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "jobs/exit_codes.h"
#include "jobs/serial_counter.h"
#include "package/printable_text.h"
#include "package/sha256.h"
#include "procedures/fault_reasons.h"
#include "procedures/package_kinds.h"
#include "util/decimal.h"

namespace korvel {

std::string PinnedSha256(std::string pin) {
    for (char& c : pin) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return pin;
}

namespace {

// Each port's serial number and its image with the number written in; a
// refusal when the numbers cannot be had or written. The counter is taken
// last: a run refused for anything else spends no number.
std::optional<RunRefusal> WriteSerialNumbers(const PackageKind& kind, const TFilePro& package,
                                             const SerialChoice& choice, RunRequest& request) {
    const SerialPlace& place = choice.place;
    const std::string placeText = SerialPlaceText(place);
    if (kind.patchImage == nullptr) {
        return RunRefusal{kExitUsage, "Packages of kind '" +
                                          PrintableText(std::string(1, package.kind())) +
                                          "' take no serial numbers; nothing was programmed: "
                                          "program this package without one"};
    }
    const auto data = package.entryImage(0);
    {
        std::vector<std::uint8_t> trial(data.begin(), data.end());
        if (const std::string problem = kind.patchImage(trial, place.at, SerialBytes(place, 0));
            !problem.empty()) {
            return RunRefusal{kExitUsage, "The serial number (" + placeText +
                                              ") cannot go into this package; nothing was "
                                              "programmed: " +
                                              problem};
        }
    }
    std::vector<std::uint64_t> numbers;
    if (choice.counterFile.empty()) {
        for (const RunPort& port : request.ports) {
            const auto number = ParseDecimalAtMost(port.boardId, MaxSerialNumber(place));
            if (!number) {
                return RunRefusal{kExitUsage, "The board id '" + PrintableText(port.boardId) +
                                                  "' for " + PrintableText(port.name) +
                                                  " is not a serial number for " + placeText +
                                                  " (decimal, at most " +
                                                  std::to_string(MaxSerialNumber(place)) +
                                                  "); nothing was programmed"};
            }
            numbers.push_back(*number);
        }
    } else {
        std::string error;
        const auto first = TakeSerialNumbers(choice.counterFile, request.ports.size(),
                                             MaxSerialNumber(place), error);
        if (!first) {
            return RunRefusal{kExitRecordFailed,
                              "No serial number; nothing was programmed: " + error};
        }
        for (std::size_t i = 0; i < request.ports.size(); ++i) {
            numbers.push_back(*first + i);
        }
    }
    const auto trailer = package.entryImageWithTrailer(0).subspan(data.size());
    for (std::size_t i = 0; i < request.ports.size(); ++i) {
        std::vector<std::uint8_t> image(data.begin(), data.end());
        // Placed and sized by the trial above: cannot fail now.
        kind.patchImage(image, place.at, SerialBytes(place, numbers[i]));
        RunPort& port = request.ports[i];
        port.imageSha256 = Sha256Hex(image);
        image.insert(image.end(), trailer.begin(), trailer.end());
        port.image = std::make_shared<const std::vector<std::uint8_t>>(std::move(image));
        port.serial = numbers[i];
    }
    return std::nullopt;
}

}  // namespace

bool IsSha256Hex(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

std::variant<RunRequest, RunRefusal> PrepareRun(
    TFilePro& package, const RunChoices& choices, DialogService* dialogs,
    const std::function<void(bool loads)>& packageReloaded) {
    const std::string path = package.fileName();
    // Never program a stale copy: what is on disk when the run starts is
    // what it gets. The file is looked at again after the access code was
    // typed, which may take a while; a kind that needs the code only since
    // then has it asked too.
    bool codeGiven = false;
    if (!choices.expectSha256.empty() && !IsSha256Hex(choices.expectSha256)) {
        return RunRefusal{kExitUsage, choices.settingsFile +
                                          ": [KORVEL] ExpectSha256 is not a SHA-256 (64 hex "
                                          "digits): '" +
                                          PrintableText(choices.expectSha256) + "'"};
    }
    for (;;) {
        switch (package.ReloadIfChanged()) {
            case TFilePro::Freshness::Unchanged:
                break;
            case TFilePro::Freshness::Reloaded:
                packageReloaded(true);
                break;
            case TFilePro::Freshness::NoLongerLoads:
                packageReloaded(false);
                return RunRefusal{kExitBadPackage,
                                  "The package changed on disk and no longer loads; nothing was "
                                  "programmed:\r\n" +
                                      PrintableText(path)};
        }
        // Checked on every load: a package that changed on disk is the one
        // the run would program.
        if (!choices.expectSha256.empty() &&
            package.sha256() != PinnedSha256(choices.expectSha256)) {
            return RunRefusal{kExitBadPackage,
                              "The package is not the pinned one; nothing was programmed: " +
                                  PrintableText(path) + " has the SHA-256 " + package.sha256() +
                                  ", the station expects " + PinnedSha256(choices.expectSha256) +
                                  ": load the package the station is set up for"};
        }
        if (codeGiven || !FindPackageKind(package.kind()).needsAccessCode) {
            break;
        }
        if (dialogs == nullptr || dialogs->AskPassword("Password", kAccessCode) != DialogYes) {
            return RunRefusal{kExitAccessCode, ""};
        }
        codeGiven = true;
    }
    const PackageKind& kind = FindPackageKind(package.kind());
    if (kind.imageProblem != nullptr && package.entryCount() > 0) {
        // A malformed image is a malformed package: refused before any board.
        if (const std::string problem = kind.imageProblem(package.entryImage(0));
            !problem.empty()) {
            return RunRefusal{kExitBadPackage,
                              FaultReason(Fault::BadImage, {problem}) + ": " + PrintableText(path)};
        }
    }
    RunRequest request;
    if (kind.usesResetLines) {
        std::string error;
        const auto lines = choices.resetLines ? choices.resetLines
                                              : ParseResetLines(choices.resetLinesSetting, error);
        if (!lines) {
            // A board wired for a reset that is not done would not answer.
            return RunRefusal{kExitUsage, choices.settingsFile + ": [KORVEL] ResetLines: " + error};
        }
        request.resetLines = *lines;
    }
    request.package = &package;
    request.packagePath = path;
    request.packageSha256 = package.sha256();
    request.kind = package.kind();
    request.ports = choices.ports;
    request.baudRate = choices.baudRate;
    request.verify = choices.verify;
    request.imageSha256 = Sha256Hex(package.entryImage(0));
    if (choices.serial) {
        if (auto refusal = WriteSerialNumbers(kind, package, *choices.serial, request)) {
            return *refusal;
        }
    }
    return request;
}

}  // namespace korvel
