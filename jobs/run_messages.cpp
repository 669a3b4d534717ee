#include "jobs/run_messages.h"

#include "package/printable_text.h"

namespace korvel {

std::optional<std::string> ResultMessage(RunResult result, const std::string& portName) {
    switch (result) {
        case RunResult::Success:
            return "Programming succesful";
        case RunResult::PortNotOpened:
            return "Unable to open port " + portName;
        case RunResult::DeviceNotSupported:
            return std::string("Device not supported\r\nPlease check for ") + kProgramName +
                   " updates";
        case RunResult::DeviceError:
            return "Device error";
        case RunResult::ProgrammingError:
            return "Programming error";
        case RunResult::Aborted:
            break;
    }
    return std::nullopt;
}

std::string StartFailureMessage(const std::exception& failure) {
    return std::string("The run could not start: ") + failure.what();
}

std::optional<std::string> OutcomeMessage(const Outcome& outcome, const std::string& portName) {
    auto message = ResultMessage(outcome.result, portName);
    if (message && !outcome.reason.empty()) {
        *message += "\r\n" + PrintableText(outcome.reason);
    }
    return message;
}

std::string OutcomeLine(const Outcome& outcome, const std::string& portName) {
    const std::string result = ResultMessage(outcome.result, portName).value_or("Aborted");
    return outcome.reason.empty() ? result : result + ": " + PrintableText(outcome.reason);
}

}  // namespace korvel
