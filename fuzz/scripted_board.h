#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "serial/virtual_serial_device.h"

namespace korvel::fuzz {

// Decides where the host's requests end: called with the bytes the host sent
// since the last end, true when they form one whole request.
using RequestEnd = std::function<bool(const std::string& sinceLastEnd)>;

// An ISP command line: up to its line feed, or the lone "?" of baud sync.
bool IspRequestEnd(const std::string& sinceLastEnd);
// A PCX frame: 02, address, check, command, length (2 bytes),
// status, payload, sum, 03.
bool FramedRequestEnd(const std::string& sinceLastEnd);
// A resident-loader frame: 02, command, length (2 bytes), payload, sum, 03.
bool LoaderRequestEnd(const std::string& sinceLastEnd);
// A boot-monitor command: up to its carriage return.
bool MonitorCommandEnd(const std::string& sinceLastEnd);

// A board that answers each of the host's requests with the next chunk of a
// script, 1 ms after the request's last byte. The script is a sequence of
// chunks, each a length byte and that many bytes; length 0 is silence.
// When a request finds the script used up, onExhausted runs (once).
class ScriptedBoard : public VirtualLineEnd {
  public:
    static constexpr VirtualNs kReplyDelayNs = 1'000'000;

    ScriptedBoard(std::span<const std::uint8_t> script, RequestEnd requestEnd);

    void hostByte(VirtualNs at, std::uint8_t byte) override;
    void hostBreak(VirtualNs, bool) override {}
    void hostLineSettings(VirtualNs, const LineSettings&) override {}
    std::optional<VirtualNs> nextBoardByte() override;
    void takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) override;

    // Bytes that arrive at the host at `at`, whatever the host sends.
    void queue(VirtualNs at, std::span<const std::uint8_t> bytes);

    std::function<void()> onExhausted;
    int requests() const { return requests_; }

  private:
    std::span<const std::uint8_t> script_;
    RequestEnd requestEnd_;
    std::string pending_;
    std::deque<std::pair<VirtualNs, std::uint8_t>> out_;
    int requests_ = 0;
    bool exhausted_ = false;
};

// Appends one chunk of a script (at most 255 bytes of the reply are kept).
void AppendChunk(std::vector<std::uint8_t>& script, std::span<const std::uint8_t> reply);

}  // namespace korvel::fuzz
