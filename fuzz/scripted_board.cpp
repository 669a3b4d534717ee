#include "fuzz/scripted_board.h"

#include <algorithm>

namespace korvel::fuzz {

bool IspRequestEnd(const std::string& sinceLastEnd) {
    return sinceLastEnd == "?" || (!sinceLastEnd.empty() && sinceLastEnd.back() == '\n');
}

namespace {
// Whether `sent` holds exactly the frame its big-endian length at lengthAt announces.
bool WholeFrame(const std::string& sent, std::size_t lengthAt, std::size_t overhead) {
    if (sent.size() < overhead) {
        return false;
    }
    const std::size_t length = static_cast<std::uint8_t>(sent[lengthAt]) << 8 |
                               static_cast<std::uint8_t>(sent[lengthAt + 1]);
    return sent.size() == overhead + length;
}
}  // namespace

bool FramedRequestEnd(const std::string& sinceLastEnd) {
    return WholeFrame(sinceLastEnd, 4, 9);
}

bool LoaderRequestEnd(const std::string& sinceLastEnd) {
    return WholeFrame(sinceLastEnd, 2, 6);
}

bool MonitorCommandEnd(const std::string& sinceLastEnd) {
    return !sinceLastEnd.empty() && sinceLastEnd.back() == '\r';
}

ScriptedBoard::ScriptedBoard(std::span<const std::uint8_t> script, RequestEnd requestEnd)
    : script_(script), requestEnd_(std::move(requestEnd)) {}

void ScriptedBoard::hostByte(VirtualNs at, std::uint8_t byte) {
    pending_.push_back(static_cast<char>(byte));
    if (!requestEnd_(pending_)) {
        return;
    }
    pending_.clear();
    ++requests_;
    if (script_.empty()) {
        if (!exhausted_ && onExhausted) {
            exhausted_ = true;
            onExhausted();
        }
        return;
    }
    const std::size_t n = std::min<std::size_t>(script_[0], script_.size() - 1);
    queue(at + kReplyDelayNs, script_.subspan(1, n));
    script_ = script_.subspan(1 + n);
}

void ScriptedBoard::queue(VirtualNs at, std::span<const std::uint8_t> bytes) {
    if (!out_.empty()) {
        at = std::max(at, out_.back().first);
    }
    for (std::uint8_t b : bytes) {
        out_.push_back({at, b});
    }
}

std::optional<VirtualNs> ScriptedBoard::nextBoardByte() {
    if (out_.empty()) {
        return std::nullopt;
    }
    return out_.front().first;
}

void ScriptedBoard::takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) {
    while (!out_.empty() && out_.front().first <= now) {
        out.push_back(out_.front().second);
        out_.pop_front();
    }
}

void AppendChunk(std::vector<std::uint8_t>& script, std::span<const std::uint8_t> reply) {
    const std::size_t n = std::min<std::size_t>(reply.size(), 255);
    script.push_back(static_cast<std::uint8_t>(n));
    script.insert(script.end(), reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace korvel::fuzz
