#include "procedures/boot_monitor/rolling_text_buffer.h"

#include <algorithm>

namespace korvel {

void RollingTextBuffer::clear() {
    bytes_.fill(0);
    length_ = 0;
}

void RollingTextBuffer::append(std::uint8_t byte) {
    if (byte == 0) {
        return;
    }
    if (length_ == kCapacity - 1) {
        std::copy(bytes_.begin() + 1, bytes_.begin() + static_cast<std::ptrdiff_t>(length_),
                  bytes_.begin());
        --length_;
    }
    bytes_[length_++] = static_cast<char>(byte);
    bytes_[length_] = 0;
}

}  // namespace korvel
