#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "procedures/isp/isp_procedure.h"
#include "serial/virtual_serial_device.h"
#include "tests/support/recording_targets.h"

namespace korvel::test {

constexpr VirtualNs kNsPerMs = 1'000'000;

// Sits on the line in front of a far end: hands every host line (CR LF
// included, or a lone "?") to a watcher, and can slip extra bytes onto the
// board's side, as a second talker on the line would.
class TapLineEnd : public VirtualLineEnd {
  public:
    explicit TapLineEnd(VirtualLineEnd& inner) : inner_(inner) {}

    void hostByte(VirtualNs at, std::uint8_t byte) override {
        inner_.hostByte(at, byte);
        line_.push_back(static_cast<char>(byte));
        if (line_ == "?" || byte == '\n') {
            const std::string line = line_;
            line_.clear();
            if (onHostLine) {
                onHostLine(at, line);
            }
        }
    }
    void hostBreak(VirtualNs at, bool on) override { inner_.hostBreak(at, on); }
    void hostLineSettings(VirtualNs at, const LineSettings& s) override {
        inner_.hostLineSettings(at, s);
    }
    std::optional<VirtualNs> nextBoardByte() override {
        auto next = inner_.nextBoardByte();
        if (!injected_.empty() && (!next || injected_.front().first < *next)) {
            next = injected_.front().first;
        }
        return next;
    }
    void takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) override {
        if (onPoll) {
            onPoll(now);
        }
        inner_.takeBoardBytes(now, out);
        while (!injected_.empty() && injected_.front().first <= now) {
            out.push_back(injected_.front().second);
            injected_.pop_front();
        }
    }

    void inject(VirtualNs at, const std::string& bytes) {
        if (!injected_.empty()) {
            at = std::max(at, injected_.back().first);
        }
        for (char c : bytes) {
            injected_.push_back({at, static_cast<std::uint8_t>(c)});
        }
    }

    std::function<void(VirtualNs, const std::string&)> onHostLine;
    // The host looks for input at `now`.
    std::function<void(VirtualNs)> onPoll;

  private:
    VirtualLineEnd& inner_;
    std::string line_;
    std::deque<std::pair<VirtualNs, std::uint8_t>> injected_;
};

// One ISP procedure on a virtual line to a far end (a board model or a
// script), with the window's progress bar and status panel recorded.
struct IspHarness {
    explicit IspHarness(VirtualLineEnd& end, int baudRate = 38400, bool paced = false) {
        VirtualSerialDevice::Options options;
        options.paced = paced;
        options.wireLog = &wire;
        auto device = std::make_unique<VirtualSerialDevice>(end, options);
        this->device = device.get();
        proc = std::make_unique<IspProcedure>(std::move(device), 0x00, baudRate);
        proc->statusControl = &status;
        proc->progressBar = &bar;
    }

    RunResult run(const std::string& hex) {
        if (!proc->port.isOpen() && !proc->Open()) {
            return RunResult::PortNotOpened;
        }
        return proc->Run({reinterpret_cast<const std::uint8_t*>(hex.data()), hex.size()});
    }

    // Everything the host sent, as text.
    std::string sent() const {
        std::string text;
        for (const WireEvent& e : wire) {
            if (e.kind == WireEvent::Kind::HostByte) {
                text.push_back(static_cast<char>(e.byte));
            }
        }
        return text;
    }

    // The host's lines (CR LF cut), in order.
    std::vector<std::string> sentLines() const {
        std::vector<std::string> lines;
        std::string line;
        for (char c : sent()) {
            line.push_back(c);
            if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
                lines.push_back(line.substr(0, line.size() - 2));
                line.clear();
            }
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
        return lines;
    }

    // Host bytes that were sent, with when each was complete on the wire.
    std::vector<VirtualNs> hostTimesOf(char c) const {
        std::vector<VirtualNs> times;
        for (const WireEvent& e : wire) {
            if (e.kind == WireEvent::Kind::HostByte && e.byte == static_cast<std::uint8_t>(c)) {
                times.push_back(e.at);
            }
        }
        return times;
    }

    std::vector<WireEvent> wire;
    VirtualSerialDevice* device = nullptr;
    std::unique_ptr<IspProcedure> proc;
    RecordingStatus status;
    RecordingBar bar;
};

}  // namespace korvel::test
