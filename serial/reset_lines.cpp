#include "serial/reset_lines.h"

#include <string_view>
#include <utility>

#include "serial/serial_port.h"
#include "util/decimal.h"

namespace korvel {

namespace {

std::optional<unsigned> Milliseconds(std::string_view text) {
    return ParseDecimalAtMost(text, kMaxResetLineMs);
}

// Sets the two lines from what the board's pins should see.
void Drive(SerialPort& port, const ResetLines& lines, bool reset, bool bootSelect) {
    port.setModemLines(reset != lines.invertReset, bootSelect != lines.invertBootSelect);
}

// A reset pulse with boot-select as given: the chip samples it as reset ends.
void PulseReset(SerialPort& port, const ResetLines& lines, bool bootSelect) {
    Drive(port, lines, true, bootSelect);
    port.waitMs(lines.holdMs);
    Drive(port, lines, false, bootSelect);
}

}  // namespace

std::optional<ResetLines> ParseResetLines(const std::string& text, std::string& error) {
    ResetLines lines;
    if (text == "none") {
        return lines;
    }
    std::string_view rest = text;
    const std::string_view kDriven = "dtr-rts";
    if (rest.substr(0, kDriven.size()) != kDriven) {
        error = "want none or dtr-rts[,invert-reset][,invert-boot][,hold=MS][,settle=MS], not '" +
                text + "'";
        return std::nullopt;
    }
    lines.driven = true;
    rest.remove_prefix(kDriven.size());
    while (!rest.empty()) {
        if (rest.front() != ',') {
            error = "'" + text + "' has no comma before '";
            error.append(rest).append("'");
            return std::nullopt;
        }
        rest.remove_prefix(1);
        const std::string_view item = rest.substr(0, rest.find(','));
        rest.remove_prefix(item.size());
        std::optional<unsigned> ms;
        if (item == "invert-reset") {
            lines.invertReset = true;
        } else if (item == "invert-boot") {
            lines.invertBootSelect = true;
        } else if (item.substr(0, 5) == "hold=" && (ms = Milliseconds(item.substr(5)))) {
            lines.holdMs = *ms;
        } else if (item.substr(0, 7) == "settle=" && (ms = Milliseconds(item.substr(7)))) {
            lines.settleMs = *ms;
        } else {
            // Built piece by piece: GCC 12 warns wrongly (-Wrestrict) on a
            // literal prepended to or assigned over a string.
            std::string message(1, '\'');
            message.append(item).append(
                "' is none of invert-reset, invert-boot, hold=MS, settle=MS (MS up to ");
            message += std::to_string(kMaxResetLineMs);
            message += ')';
            error = std::move(message);
            return std::nullopt;
        }
    }
    return lines;
}

std::string FormatResetLines(const ResetLines& lines) {
    if (!lines.driven) {
        return "none";
    }
    std::string text = "dtr-rts";
    if (lines.invertReset) {
        text += ",invert-reset";
    }
    if (lines.invertBootSelect) {
        text += ",invert-boot";
    }
    if (lines.holdMs != ResetLines::kDefaultHoldMs) {
        text += ",hold=" + std::to_string(lines.holdMs);
    }
    if (lines.settleMs != ResetLines::kDefaultSettleMs) {
        text += ",settle=" + std::to_string(lines.settleMs);
    }
    return text;
}

void ResetIntoBootLoader(SerialPort& port, const ResetLines& lines) {
    if (!lines.driven) {
        return;
    }
    PulseReset(port, lines, true);
    port.waitMs(lines.settleMs);
}

void ResetIntoFirmware(SerialPort& port, const ResetLines& lines) {
    if (!lines.driven) {
        return;
    }
    PulseReset(port, lines, false);
}

}  // namespace korvel
