#include "cli/identify.h"

#include <string>

#include <nlohmann/json.hpp>

#include "jobs/run_record.h"
#include "package/printable_text.h"
#include "procedures/isp/isp_procedure.h"
#include "serial/open_advice.h"

namespace korvel::cli {

namespace {

// 8 data bits, no parity, one stop bit, as the programming run.
constexpr std::uint8_t kIspLineFlags = 0x00;

nlohmann::ordered_json TextOrNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
}

}  // namespace

int IdentifyBoard(const RunPort& port, int baudRate, const ResetLines& resetLines, bool json,
                  std::FILE* out, std::FILE* err) {
    IspProcedure proc(port.number, kIspLineFlags, baudRate);
    Outcome outcome;
    std::string device = port.device;
    if (!proc.Open()) {
        device = proc.port.devicePath();
        outcome.result = RunResult::PortNotOpened;
        outcome.reason = OpenAdvice(device, proc.port.lastOpenFailure());
    } else {
        ResetIntoBootLoader(proc.port, resetLines);
        const RunResult result = proc.ReadIdentity();
        // The board goes back to its own firmware, which nothing touched.
        ResetIntoFirmware(proc.port, resetLines);
        proc.Close();
        outcome = proc.Conclude(result);
    }
    const BoardFacts& facts = outcome.learned;
    const std::string partId = facts.partId ? std::to_string(*facts.partId) : "";
    const std::string partIdHex = facts.partId ? PartIdHex(*facts.partId) : "";
    if (json) {
        nlohmann::ordered_json line;
        line["port"] = port.name;
        line["device"] = device;
        line["chip"] = TextOrNull(facts.chip);
        line["part_id"] = TextOrNull(partId);
        line["part_id_hex"] = TextOrNull(partIdHex);
        line["boot_code"] = TextOrNull(facts.bootCode);
        line["result"] = static_cast<int>(outcome.result);
        line["result_name"] = RunResultName(outcome.result);
        line["message"] = outcome.reason;
        std::fprintf(
            out, "%s\n",
            line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
    } else {
        const auto shown = [](const std::string& text) {
            return text.empty() ? std::string("-") : PrintableText(text);
        };
        std::fprintf(out, "Port:      %s (%s)\n", PrintableText(port.name).c_str(),
                     shown(device).c_str());
        std::fprintf(out, "Part id:   %s%s\n", shown(partId).c_str(),
                     partIdHex.empty() ? "" : (" (" + partIdHex + ")").c_str());
        std::fprintf(out, "Chip:      %s\n", shown(facts.chip).c_str());
        std::fprintf(out, "Boot code: %s\n", shown(facts.bootCode).c_str());
    }
    if (outcome.result != RunResult::Success) {
        std::fprintf(err, "korvel-cli: %s\n", PrintableText(outcome.reason).c_str());
    }
    return static_cast<int>(outcome.result);
}

}  // namespace korvel::cli
