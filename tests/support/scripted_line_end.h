#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "serial/virtual_serial_device.h"

namespace korvel::test {

// The simplest far end: records what the host sends and plays back bytes the
// test queued at given virtual times. An optional responder reacts to each
// host byte, as a board would.
class ScriptedLineEnd : public VirtualLineEnd {
  public:
    void hostByte(VirtualNs at, std::uint8_t byte) override {
        hostBytes.push_back(byte);
        hostTimes.push_back(at);
        if (responder) {
            responder(at, byte);
        }
    }
    void hostBreak(VirtualNs at, bool on) override { breaks.push_back({at, on}); }
    void hostLineSettings(VirtualNs, const LineSettings& settings) override {
        lineChanges.push_back(settings);
    }

    std::optional<VirtualNs> nextBoardByte() override {
        return pending.empty() ? std::nullopt : std::optional<VirtualNs>(pending.front().first);
    }
    void takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) override {
        while (!pending.empty() && pending.front().first <= now) {
            out.push_back(pending.front().second);
            pending.pop_front();
        }
    }

    // Queues bytes that are complete at the host at `at`, `at + gap`, ...
    void send(VirtualNs at, const std::vector<std::uint8_t>& bytes, VirtualNs gap = 0) {
        for (std::uint8_t b : bytes) {
            pending.push_back({at, b});
            at += gap;
        }
    }

    std::vector<std::uint8_t> hostBytes;
    std::vector<VirtualNs> hostTimes;
    std::vector<std::pair<VirtualNs, bool>> breaks;
    std::vector<LineSettings> lineChanges;
    std::deque<std::pair<VirtualNs, std::uint8_t>> pending;
    std::function<void(VirtualNs, std::uint8_t)> responder;
};

}  // namespace korvel::test
