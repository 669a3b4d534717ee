#include "jobs/serial_counter.h"

#include <cctype>

#include "package/printable_text.h"
#include "util/decimal.h"

namespace korvel::serial_counter {

std::optional<std::uint64_t> ParseCounterText(const std::string& text) {
    std::size_t end = text.size();
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) {
        --end;
    }
    return ParseDecimal<std::uint64_t>(std::string_view(text).substr(0, end));
}

std::string CounterText(std::uint64_t next) {
    return std::to_string(next) + "\n";
}

std::string RangeProblem(std::uint64_t first, std::uint64_t count, std::uint64_t max) {
    if (count == 0 || (first <= max && count - 1 <= max - first)) {
        return {};
    }
    return "the counter is at " + std::to_string(first) + " and " + std::to_string(count) +
           " board(s) would go past " + std::to_string(max) +
           ", the largest number the serial format holds";
}

std::string MissingText(const std::string& path) {
    return "the serial counter file " + PrintableText(path) +
           " does not exist: create it holding the first number to hand out (for example 1000)";
}

}  // namespace korvel::serial_counter
