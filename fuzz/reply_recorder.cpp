#include "fuzz/reply_recorder.h"

namespace korvel::fuzz {

ReplyRecorder::ReplyRecorder(VirtualLineEnd& board, RequestEnd requestEnd)
    : board_(board), requestEnd_(std::move(requestEnd)) {}

void ReplyRecorder::hostByte(VirtualNs at, std::uint8_t byte) {
    board_.hostByte(at, byte);
    pending_.push_back(static_cast<char>(byte));
    if (requestEnd_(pending_)) {
        requests_.push_back(pending_);
        pending_.clear();
        replies_.emplace_back();
    }
}

void ReplyRecorder::takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) {
    const std::size_t before = out.size();
    board_.takeBoardBytes(now, out);
    // Bytes before the first request answer nothing the script can replay.
    if (!replies_.empty()) {
        replies_.back().insert(replies_.back().end(),
                               out.begin() + static_cast<std::ptrdiff_t>(before), out.end());
    }
}

std::vector<std::uint8_t> ReplyRecorder::script() const {
    std::vector<std::uint8_t> script;
    for (const auto& reply : replies_) {
        AppendChunk(script, reply);
    }
    return script;
}

}  // namespace korvel::fuzz
