#include "serial/open_advice.h"

#include "serial/usb_port_info.h"

namespace korvel {

std::string OpenAdvice(const std::string& devicePath, const OpenFailure& failure) {
    if (const auto missing = AdapterProblem(devicePath)) {
        return *missing;
    }
    // The system's text comes without its full stop.
    const std::string text =
        devicePath + ": " + (failure.text.empty() ? "cannot be opened" : failure.text);
    const std::string hint = OpenHint(devicePath, failure);
    return hint.empty() ? text : text + ". " + hint;
}

}  // namespace korvel
