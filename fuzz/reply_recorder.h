#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/scripted_board.h"

namespace korvel::fuzz {

// Sits in front of a board model and writes down what the board answered to
// each of the host's requests, as a script a ScriptedBoard plays back: how
// the seed corpora get real dialogues.
class ReplyRecorder : public VirtualLineEnd {
  public:
    ReplyRecorder(VirtualLineEnd& board, RequestEnd requestEnd);

    void hostByte(VirtualNs at, std::uint8_t byte) override;
    void hostBreak(VirtualNs at, bool on) override { board_.hostBreak(at, on); }
    void hostLineSettings(VirtualNs at, const LineSettings& s) override {
        board_.hostLineSettings(at, s);
    }
    std::optional<VirtualNs> nextBoardByte() override { return board_.nextBoardByte(); }
    void takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) override;

    // One chunk per request, in order.
    std::vector<std::uint8_t> script() const;
    // Each request the host sent, and what the board answered to it.
    const std::vector<std::string>& requests() const { return requests_; }
    const std::vector<std::vector<std::uint8_t>>& replies() const { return replies_; }

  private:
    VirtualLineEnd& board_;
    RequestEnd requestEnd_;
    std::string pending_;
    std::vector<std::string> requests_;
    std::vector<std::vector<std::uint8_t>> replies_;
};

}  // namespace korvel::fuzz
