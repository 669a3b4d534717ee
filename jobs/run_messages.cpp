#include "jobs/run_messages.h"

#include <algorithm>
#include <iterator>

#include "jobs/status_text.h"

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

std::string FailureReason(const std::string& lastStatus, const std::string& failureText) {
    // Cancel texts start with line breaks and ": " to follow the status log.
    const auto start = lastStatus.find_first_not_of("\r\n :");
    const auto end = lastStatus.find_last_not_of("\r\n ");
    const std::string words =
        start == std::string::npos ? "" : lastStatus.substr(start, end - start + 1);
    const bool standard =
        std::find(std::begin(StatusText), std::end(StatusText), words) != std::end(StatusText);
    if (!words.empty() && !standard) {
        return words;
    }
    return failureText;
}

}  // namespace korvel
