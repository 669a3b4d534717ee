#include "jobs/run_record_json.h"

#include <cmath>

#include <nlohmann/json.hpp>

namespace korvel {

namespace {

bool IsUtf8(const std::string& text) {
    try {
        (void)nlohmann::json(text).dump();
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

std::string Hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

// Paths and package texts are bytes. One that is not UTF-8 is shown with
// U+FFFD for each byte that is not, and given exactly as well: its bytes in
// hex under the same key with "_hex" after it.
void PutText(nlohmann::ordered_json& line, const std::string& key, const std::string& text,
             bool nullWhenEmpty = false) {
    if (nullWhenEmpty && text.empty()) {
        line[key] = nullptr;
        return;
    }
    line[key] = text;
    if (!IsUtf8(text)) {
        line[key + "_hex"] = Hex(text);
    }
}

// The kind is one byte, any of the 256: as the one character of that code
// point (ISO 8859-1), so 0x00 is "\u0000" and 0xE9 is "\u00e9".
std::string KindText(char kind) {
    const auto byte = static_cast<unsigned char>(kind);
    if (byte < 0x80) {
        return std::string(1, kind);
    }
    return {static_cast<char>(0xC0 | (byte >> 6)), static_cast<char>(0x80 | (byte & 0x3F))};
}

}  // namespace

std::string RunRecordJson(const RunRecord& record) {
    nlohmann::ordered_json line;
    PutText(line, "port", record.port);
    PutText(line, "board_id", record.boardId, true);
    PutText(line, "device", record.device);
    PutText(line, "package", record.packagePath);
    line["package_sha256"] = record.packageSha256;
    PutText(line, "image_sha256", record.imageSha256, true);
    line["kind"] = KindText(record.kind);
    PutText(line, "name", record.entryName);
    PutText(line, "version", record.entryVersion);
    PutText(line, "chip", record.chip, true);
    PutText(line, "part_id", record.partId, true);
    PutText(line, "part_id_hex", record.partIdHex, true);
    PutText(line, "boot_code", record.bootCode, true);
    line["result"] = static_cast<int>(record.result);
    line["result_name"] = RunResultName(record.result);
    PutText(line, "status", record.status);
    PutText(line, "message", record.message);
    line["start"] = IsoUtc(record.start);
    // Milliseconds are as fine as a run's timing means anything.
    line["duration_s"] = std::round(record.durationSeconds * 1000.0) / 1000.0;
    if (const char* verify = VerifyModeName(record.verify)) {
        line["verify"] = verify;
    } else {
        line["verify"] = nullptr;
    }
    line["verified"] = record.verified;
    if (record.serial) {
        line["serial"] = *record.serial;
    } else {
        line["serial"] = nullptr;
    }
    // A number handed to a board that did not succeed is never handed out
    // again: the line says it is spent without firmware to carry it.
    line["serial_void"] = record.serial.has_value() && record.result != RunResult::Success;
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace korvel
