#pragma once

#include <cstdint>
#include <random>

#include "serial/virtual_serial_device.h"

namespace korvel::test {

// How often a byte goes missing or arrives changed (in 100000), and in which
// directions.
struct Noise {
    unsigned seed = 1;
    unsigned lossPer100k = 0;
    unsigned corruptionPer100k = 0;
    bool hostToBoard = true;
    bool boardToHost = true;
};

// A line between the host and a board that loses and corrupts bytes at
// random, with a fixed seed so every run of a test meets the same noise.
class NoisyLine : public VirtualLineEnd {
  public:
    NoisyLine(VirtualLineEnd& board, Noise noise)
        : board_(board), noise_(noise), random_(noise.seed) {}

    void hostByte(VirtualNs at, std::uint8_t byte) override {
        if (!noise_.hostToBoard || pass(byte)) {
            board_.hostByte(at, byte);
        }
    }
    void hostBreak(VirtualNs at, bool on) override { board_.hostBreak(at, on); }
    void hostLineSettings(VirtualNs at, const LineSettings& s) override {
        board_.hostLineSettings(at, s);
    }
    std::optional<VirtualNs> nextBoardByte() override { return board_.nextBoardByte(); }
    void takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) override {
        std::vector<std::uint8_t> taken;
        board_.takeBoardBytes(now, taken);
        for (std::uint8_t byte : taken) {
            if (!noise_.boardToHost || pass(byte)) {
                out.push_back(byte);
            }
        }
    }

    int lost() const { return lost_; }
    int corrupted() const { return corrupted_; }

  private:
    // False when the byte is lost; otherwise it may have been changed.
    bool pass(std::uint8_t& byte) {
        const unsigned roll = random_() % 100000;
        if (roll < noise_.lossPer100k) {
            ++lost_;
            return false;
        }
        if (roll < noise_.lossPer100k + noise_.corruptionPer100k) {
            byte ^= static_cast<std::uint8_t>(1 + random_() % 255);
            ++corrupted_;
        }
        return true;
    }

    VirtualLineEnd& board_;
    Noise noise_;
    std::mt19937 random_;
    int lost_ = 0;
    int corrupted_ = 0;
};

}  // namespace korvel::test
