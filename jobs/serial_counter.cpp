#include "jobs/serial_counter.h"

#include <cctype>
#include <chrono>
#include <thread>

#include "package/printable_text.h"
#include "util/decimal.h"

namespace korvel::serial_counter {

std::optional<std::uint64_t> FirstNumber(const std::string& path, const std::string& text,
                                         std::uint64_t count, std::uint64_t max,
                                         std::string& error) {
    std::size_t end = text.size();
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) {
        --end;
    }
    const auto first = ParseDecimal<std::uint64_t>(std::string_view(text).substr(0, end));
    if (!first) {
        error = "the serial counter " + PrintableText(path) + " does not hold a number ('" +
                PrintableText(text.substr(0, 24)) + "'): it must hold the next number to hand out";
        return std::nullopt;
    }
    if (count > 0 && (*first > max || count - 1 > max - *first)) {
        error = "serial counter " + PrintableText(path) + ": it is at " + std::to_string(*first) +
                " and " + std::to_string(count) + " board(s) would go past " + std::to_string(max) +
                ", the largest number the serial format holds";
        return std::nullopt;
    }
    return first;
}

bool AwaitTurn(const std::string& path, std::string& error, const std::function<bool()>& take) {
    constexpr auto kTurnWait = std::chrono::seconds(10);
    constexpr auto kTurnPoll = std::chrono::milliseconds(50);
    const auto giveUp = std::chrono::steady_clock::now() + kTurnWait;
    while (!take()) {
        if (std::chrono::steady_clock::now() >= giveUp) {
            error = "another station has held the serial counter " + PrintableText(path) +
                    " for 10 s: try again, or give each station a counter of its own";
            return false;
        }
        std::this_thread::sleep_for(kTurnPoll);
    }
    return true;
}

std::string CounterText(std::uint64_t next) {
    return std::to_string(next) + "\n";
}

std::string MissingText(const std::string& path) {
    return "the serial counter file " + PrintableText(path) +
           " does not exist: create it holding the first number to hand out (for example 1000)";
}

}  // namespace korvel::serial_counter
