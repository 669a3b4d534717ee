#include "sim/board_model.h"

#include <algorithm>

namespace korvel::sim {

void BoardModel::advance(VirtualNs now) {
    // The host stamps its bytes with their arrival, which may lie ahead of
    // the moment it next looks for output; a model only ever moves forward.
    if (now > advancedTo_) {
        advancedTo_ = now;
        advanceTo(now);
    }
}

void BoardModel::hostByte(VirtualNs at, std::uint8_t byte) {
    advance(at);
    onByte(at, byte);
}

void BoardModel::hostBreak(VirtualNs at, bool on) {
    advance(at);
    onBreak(at, on);
}

void BoardModel::hostLineSettings(VirtualNs at, const LineSettings& settings) {
    advance(at);
    line_ = settings;
    onLineSettings(at, settings);
}

std::optional<VirtualNs> BoardModel::nextBoardByte() {
    if (outgoing_.empty()) {
        return std::nullopt;
    }
    return outgoing_.front().at;
}

void BoardModel::takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) {
    advance(now);
    while (!outgoing_.empty() && outgoing_.front().at <= now) {
        out.push_back(outgoing_.front().byte);
        outgoing_.pop_front();
    }
}

void BoardModel::transmit(VirtualNs at, const std::vector<std::uint8_t>& bytes) {
    const VirtualNs charNs = paced_ ? CharacterTimeNs(line_) : 0;
    VirtualNs t = std::max(at, txFreeAt_);
    for (std::uint8_t b : bytes) {
        t += charNs;
        outgoing_.push_back({t, b});
    }
    txFreeAt_ = t;
}

void BoardModel::transmitText(VirtualNs at, const std::string& text) {
    transmit(at, std::vector<std::uint8_t>(text.begin(), text.end()));
}

}  // namespace korvel::sim
