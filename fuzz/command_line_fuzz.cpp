// Both command lines on arbitrary arguments (the input split at zero bytes):
// the window's options ("-C7", "-RRUN", ...) and korvel-cli's. Neither
// throws; option values stay within their bounds; a parsed program command
// always names a package.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "settings/settings.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size && args.size() <= 32; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back().push_back(static_cast<char>(data[i]));
        }
    }

    // No file: the defaults, then the arguments; nothing is written.
    korvel::Settings settings("/nonexistent/korvel-fuzz/korvel.ini", /*readOnly=*/true);
    settings.Load(args);
    if (args.size() >= 2) {
        Require(settings.LastFiles.size() <= korvel::Settings::kMaxOptionValue);
        Require(settings.unattendedExit.size() <= korvel::Settings::kMaxOptionValue);
    } else {
        Require(settings.unattendedExit.empty() && settings.serialPort == 1 && !settings.AutoRun);
    }

    std::string error;
    const auto options = korvel::cli::ParseCliOptions(args, error);
    if (!options) {
        Require(!error.empty());
        return 0;
    }
    if (options->command == korvel::cli::CliOptions::Command::Program ||
        options->command == korvel::cli::CliOptions::Command::Info) {
        Require(!options->package.empty());
    }
    Require(!options->portNumber || *options->portNumber > 0);
    Require(!options->baudRate || *options->baudRate > 0);
    return 0;
}
