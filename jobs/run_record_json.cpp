#include "jobs/run_record_json.h"

#include <cmath>

#include <nlohmann/json.hpp>

namespace korvel {

namespace {

nlohmann::ordered_json TextOrNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
}

}  // namespace

std::string RunRecordJson(const RunRecord& record) {
    nlohmann::ordered_json line;
    line["port"] = record.port;
    line["device"] = record.device;
    line["package"] = record.packagePath;
    line["package_sha256"] = record.packageSha256;
    line["kind"] = record.kind != 0 ? std::string(1, record.kind) : std::string();
    line["name"] = record.entryName;
    line["version"] = record.entryVersion;
    line["chip"] = TextOrNull(record.chip);
    line["part_id"] = TextOrNull(record.partId);
    line["result"] = static_cast<int>(record.result);
    line["result_name"] = RunResultName(record.result);
    line["status"] = record.status;
    line["message"] = record.message;
    line["start"] = IsoUtc(record.start);
    // Milliseconds are as fine as a run's timing means anything.
    line["duration_s"] = std::round(record.durationSeconds * 1000.0) / 1000.0;
    line["verified"] = record.verified;
    // Package texts come from the file as bytes: replace what is not UTF-8
    // rather than fail the record.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace korvel
