#include "settings/settings.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "settings/ini_file.h"
#include "settings/settings_location.h"
#include "util/decimal.h"

namespace korvel {

namespace {

struct InitialArguments {
    std::string fileName;
    std::vector<std::string> args;
    bool readOnly = false;
};

InitialArguments& Pending() {
    static InitialArguments pending;
    return pending;
}

// A decimal integer, optionally signed, filling the whole text.
std::optional<long long> ParseInteger(const std::string& text) {
    std::string_view digits = text;
    if (digits.starts_with('+')) {
        digits.remove_prefix(1);
    }
    return ParseDecimal<long long>(digits);
}

int ClampToInt(long long v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int>(v);
}

}  // namespace

Settings& Settings::Instance() {
    static std::once_flag once;
    static std::unique_ptr<Settings> instance;
    std::call_once(once, [] {
        InitialArguments& init = Pending();
        instance = std::make_unique<Settings>(
            init.fileName.empty() ? DefaultSettingsFile() : init.fileName, init.readOnly);
        instance->Load(init.args);
    });
    return *instance;
}

void Settings::Initialise(std::string fileName, std::vector<std::string> args, bool readOnly) {
    Pending() = {std::move(fileName), std::move(args), readOnly};
}

Settings::Settings(std::string fileName, bool readOnly)
    : fileName_(std::move(fileName)), readOnly_(readOnly) {}

void Settings::Load(const std::vector<std::string>& args) {
    LastFiles.clear();
    serialPort = 1;
    AutoRun = false;
    Verify = false;
    unattendedExit.clear();
    ports.clear();
    resetLines = "none";
    expectSha256.clear();
    warnings_.clear();
    // Only a file that is certainly missing is created; anything else in its
    // place (unreadable, a directory, a symlink loop) gives what can be read.
    std::error_code ec;
    const auto status = std::filesystem::status(fileName_, ec);
    if (status.type() != std::filesystem::file_type::not_found) {
        readFile();
    } else if (!readOnly_) {
        Save();
    }
    applyArguments(args);
}

void Settings::readFile() {
    std::string why;
    const auto text = IniFile::ReadFile(fileName_, &why);
    if (!text) {
        warnings_.push_back(fileName_ + ": " + why + ": the settings file is not read; COM1, no " +
                            "[PORTS] and the other defaults are used");
        return;
    }
    const IniFile ini(*text);
    if (auto v = ini.get(kSection, "LastFiles")) {
        LastFiles = *v;
    }
    if (auto v = ini.get(kSection, "SerialPort")) {
        const auto n = ParseInteger(*v);
        serialPort = !n ? 2 : (*n < 1 || *n > kMaxPort) ? 1 : static_cast<int>(*n);
        if (!n || *n != serialPort) {
            warnings_.push_back(fileName_ + ": [" + kSection + "] SerialPort=" + *v +
                                " is not a port number from 1 to " + std::to_string(kMaxPort) +
                                ": COM" + std::to_string(serialPort) + " is used");
        }
    }
    if (auto v = ini.get(kSection, "AutoRun")) {
        // Read as an integer like the profile functions do: leading digits, else 0.
        AutoRun = std::atoi(v->c_str()) != 0;
    }
    if (auto v = ini.get(kKorvelSection, "ResetLines")) {
        resetLines = *v;
    }
    if (auto v = ini.get(kKorvelSection, "ExpectSha256")) {
        expectSha256 = *v;
    }
    if (auto v = ini.get(kKorvelSection, "Verify")) {
        Verify = std::atoi(v->c_str()) != 0;
    }
    for (const auto& [key, path] : ini.entries(kPortsSection)) {
        if (key.size() > 3 && (key.compare(0, 3, "COM") == 0 || key.compare(0, 3, "com") == 0)) {
            if (auto n = ParseInteger(key.substr(3));
                n && *n >= 1 && *n <= kMaxPort && !path.empty()) {
                ports[static_cast<int>(*n)] = path;
            }
        }
    }
}

void Settings::applyArguments(const std::vector<std::string>& args) {
    if (args.size() == 1) {
        LastFiles = ArgumentPackagePath(args[0]);
        return;
    }
    if (args.size() < 2) {
        return;
    }
    for (const std::string& arg : args) {
        // An empty argument or a lone "-" has no option letter: not an option.
        if (arg.size() < 2 || arg[0] != '-') {
            continue;
        }
        const std::string value = arg.substr(2, kMaxOptionValue);
        switch (arg[1]) {
            case 'C': {
                const auto n = ParseInteger(value);
                serialPort = n ? ClampToInt(*n) : 3;
                break;
            }
            case 'F':
                LastFiles = value;
                break;
            case 'R':
                if (value == "RUN") {
                    AutoRun = true;
                }
                break;
            case 'U':
                unattendedExit = value;
                break;
            default:
                break;
        }
    }
}

void Settings::Save() const {
    if (readOnly_) {
        return;
    }
    std::error_code ec;
    const auto text = IniFile::ReadFile(fileName_);
    if (!text && std::filesystem::exists(std::filesystem::status(fileName_, ec))) {
        // There but unreadable: rewritten from what we hold, it would lose
        // everything else the file has.
        return;
    }
    IniFile ini(text.value_or(""));
    // A path with a line end cannot be stored; an empty one loads nothing
    // rather than a package the user did not choose.
    if (!ini.set(kSection, "LastFiles", LastFiles)) {
        ini.set(kSection, "LastFiles", "");
    }
    ini.set(kSection, "SerialPort", std::to_string(serialPort));
    ini.set(kSection, "AutoRun", AutoRun ? "1" : "0");
    // Korvel's own section; files that never had the box ticked stay as they were.
    if (Verify || ini.get(kKorvelSection, "Verify")) {
        ini.set(kKorvelSection, "Verify", Verify ? "1" : "0");
    }
    // The user's configuration folder may not be there yet.
    if (const auto folder = std::filesystem::path(fileName_).parent_path(); !folder.empty()) {
        std::filesystem::create_directories(folder, ec);
    }
    // A failed save is not reported: the program goes on with what it has.
    IniFile::WriteFileAtomically(fileName_, ini.text());
}

std::string DefaultSettingsFile() {
    return ChooseSettingsFile(CurrentSettingsPlaces()).string();
}

}  // namespace korvel
