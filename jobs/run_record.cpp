#include "jobs/run_record.h"

#include <cstdio>

namespace korvel {

const char* RunResultName(RunResult result) {
    switch (result) {
        case RunResult::Success:
            return "Success";
        case RunResult::PortNotOpened:
            return "PortNotOpened";
        case RunResult::DeviceNotSupported:
            return "DeviceNotSupported";
        case RunResult::DeviceError:
            return "DeviceError";
        case RunResult::ProgrammingError:
            return "ProgrammingError";
        case RunResult::Aborted:
            return "Aborted";
    }
    return "Unknown";
}

std::string PartIdHex(std::uint32_t partId) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(partId));
    return text;
}

std::string IsoUtc(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(time);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    const hh_mm_ss clock{ms - day};
    char text[32];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

}  // namespace korvel
