#include "app/korvel_options.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "settings/ini_file.h"
#include "settings/settings.h"

namespace korvel::app {

namespace {

constexpr const char* kSection = Settings::kKorvelSection;
constexpr const char* kFromBoardId = "board-id";

std::string RecentKey(std::size_t index) {
    return "Recent" + std::to_string(index + 1);
}

// Read as the profile functions read numbers: leading digits, else 0.
void ReadFlag(const IniFile& ini, const char* key, bool& flag) {
    if (const auto v = ini.get(kSection, key)) {
        flag = std::atoi(v->c_str()) != 0;
    }
}

}  // namespace

KorvelOptions LoadKorvelOptions(const std::string& iniPath) {
    KorvelOptions options;
    const IniFile ini(IniFile::ReadFile(iniPath).value_or(""));
    ReadFlag(ini, "Verify", options.verify);
    ReadFlag(ini, "Sound", options.sound);
    ReadFlag(ini, "MessageDialog", options.messageDialog);
    ReadFlag(ini, "ExtraBaudRates", options.extraBaudRates);
    ReadFlag(ini, "AskBoardId", options.askBoardId);
    ReadFlag(ini, "WriteSerial", options.writeSerial);
    if (const auto v = ini.get(kSection, "VerifyMode")) {
        options.verifyMode = *v == "readback" ? VerifyMode::Readback : VerifyMode::Compare;
    }
    if (const auto v = ini.get(kSection, "Serial")) {
        options.serialPlace = *v;
    }
    if (const auto v = ini.get(kSection, "SerialFrom")) {
        options.serialFromBoardId = *v == kFromBoardId;
    }
    if (const auto v = ini.get(kSection, "SerialCounter")) {
        options.serialCounter = *v;
    }
    if (const auto v = ini.get(kSection, "ResetLines")) {
        options.resetLines = *v;
    }
    if (const auto v = ini.get(kSection, "RecordFile")) {
        options.recordFile = *v;
    }
    for (std::size_t i = 0; i < KorvelOptions::kRecentCount; ++i) {
        if (const auto v = ini.get(kSection, RecentKey(i)); v && !v->empty()) {
            options.recentPackages.push_back(*v);
        }
    }
    return options;
}

bool SaveKorvelOptions(const std::string& iniPath, const KorvelOptions& options) {
    std::error_code ec;
    const auto text = IniFile::ReadFile(iniPath);
    if (!text && std::filesystem::exists(std::filesystem::status(iniPath, ec))) {
        return false;  // there but unreadable: writing it would lose the rest
    }
    IniFile ini(text.value_or(""));
    bool stored =
        ini.set(kSection, "Verify", options.verify ? "1" : "0") &&
        ini.set(kSection, "ResetLines", options.resetLines) &&
        ini.set(kSection, "RecordFile", options.recordFile) &&
        ini.set(kSection, "Sound", options.sound ? "1" : "0") &&
        ini.set(kSection, "MessageDialog", options.messageDialog ? "1" : "0") &&
        ini.set(kSection, "ExtraBaudRates", options.extraBaudRates ? "1" : "0") &&
        ini.set(kSection, "VerifyMode",
                options.verifyMode == VerifyMode::Readback ? "readback" : "compare") &&
        ini.set(kSection, "AskBoardId", options.askBoardId ? "1" : "0") &&
        ini.set(kSection, "WriteSerial", options.writeSerial ? "1" : "0") &&
        ini.set(kSection, "Serial", options.serialPlace) &&
        ini.set(kSection, "SerialFrom", options.serialFromBoardId ? kFromBoardId : "counter") &&
        ini.set(kSection, "SerialCounter", options.serialCounter);
    for (std::size_t i = 0; i < KorvelOptions::kRecentCount; ++i) {
        const bool listed = i < options.recentPackages.size();
        // A path with a line end cannot be stored: its place stays empty.
        if (!ini.set(kSection, RecentKey(i), listed ? options.recentPackages[i] : "")) {
            ini.set(kSection, RecentKey(i), "");
        }
    }
    return stored && IniFile::WriteFileAtomically(iniPath, ini.text());
}

std::optional<SerialChoice> SerialChoiceOf(const KorvelOptions& options, std::string& error) {
    error.clear();
    if (!options.writeSerial) {
        return std::nullopt;
    }
    std::string why;
    const auto place = ParseSerialPlace(options.serialPlace, why);
    if (!place) {
        error = "The serial number's place '" + options.serialPlace + "' does not read: " + why +
                ". Give it as AT:FORMAT, e.g. 0x1F00:u32le, 0x1F00:u32be or 0x1F00:ascii:8";
        return std::nullopt;
    }
    if (options.serialFromBoardId) {
        if (!options.askBoardId) {
            error =
                "The serial number is to be the board id, but no board id is asked: tick "
                "\"Ask for each board's id\"";
            return std::nullopt;
        }
        return SerialChoice{*place, ""};
    }
    if (options.serialCounter.empty()) {
        error =
            "The serial numbers' counter file is not given: choose the file that holds the "
            "next number";
        return std::nullopt;
    }
    return SerialChoice{*place, options.serialCounter};
}

std::vector<std::string> RememberPackage(std::vector<std::string> recent, const std::string& path) {
    std::erase(recent, path);
    recent.insert(recent.begin(), path);
    if (recent.size() > KorvelOptions::kRecentCount) {
        recent.resize(KorvelOptions::kRecentCount);
    }
    return recent;
}

}  // namespace korvel::app
