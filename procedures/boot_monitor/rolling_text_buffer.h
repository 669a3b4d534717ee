#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace korvel {

// The text received during one wait of the boot-monitor dialogue. Zero bytes
// are dropped, so it always reads as one text. When more arrives than fits,
// the oldest characters make room: a phrase at the end of a long line is
// still found.
class RollingTextBuffer {
  public:
    static constexpr std::size_t kCapacity = 512;

    void clear();
    void append(std::uint8_t byte);
    bool contains(std::string_view text) const { return view().find(text) != view().npos; }
    std::string_view view() const { return {bytes_.data(), length_}; }

  private:
    // One place stays free for the terminating zero.
    std::array<char, kCapacity> bytes_{};
    std::size_t length_ = 0;
};

}  // namespace korvel
