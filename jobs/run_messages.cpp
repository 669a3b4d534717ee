#include "jobs/run_messages.h"

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

}  // namespace korvel
