#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace korvel {

// A production line's serial counter: a text file that holds the next
// number to hand out, in decimal. Taking numbers advances it and puts it on
// the disk (written beside it, flushed, renamed over it, the folder flushed)
// before any board is touched, so neither a crash nor a killed run ever
// hands a number out twice; a number given to a board that then failed is
// spent. Stations sharing the file take turns through a lock file beside it
// (FILE.lock).
//
// Takes `count` consecutive numbers and returns the first; nullopt, with the
// reason in `error` and the file as it was, when the file is missing or
// does not hold a number, the last number would be above `max`, another
// station keeps its turn for more than a few seconds, or the new number does
// not reach the disk.
std::optional<std::uint64_t> TakeSerialNumbers(const std::string& path, std::uint64_t count,
                                               std::uint64_t max, std::string& error);

namespace serial_counter {

// The first of `count` numbers from the text of the counter file at path
// (digits, then at most white space); nullopt, the reason in `error`, when
// it holds no number or the last would be above `max`.
std::optional<std::uint64_t> FirstNumber(const std::string& path, const std::string& text,
                                         std::uint64_t count, std::uint64_t max,
                                         std::string& error);
// Tries `take` (the counter's lock, without waiting) until it succeeds,
// for 10 s at most; false, the reason in `error`, when another station kept
// its turn that long.
bool AwaitTurn(const std::string& path, std::string& error, const std::function<bool()>& take);
// What the file holds after `next` is stored: the number and a line end.
std::string CounterText(std::uint64_t next);
// The text for a file that is not there.
std::string MissingText(const std::string& path);

}  // namespace serial_counter

}  // namespace korvel
