#include "bench/support/usb_adapter_line.h"

#include <algorithm>

namespace korvel::bench {

std::optional<VirtualNs> UsbAdapterLine::nextBoardByte() {
    const std::optional<VirtualNs> arriving = board_.nextBoardByte();
    if (held_.empty()) {
        // The adapter takes it in then; the host sees nothing yet.
        return arriving;
    }
    const VirtualNs timer = heldSince_ + latencyNs_;
    return arriving ? std::min(*arriving, timer) : timer;
}

void UsbAdapterLine::takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> arrived;
    board_.takeBoardBytes(now, arrived);
    if (!arrived.empty() && held_.empty()) {
        heldSince_ = now;
    }
    held_.insert(held_.end(), arrived.begin(), arrived.end());
    if (!held_.empty() && (held_.size() >= kPacketBytes || now >= heldSince_ + latencyNs_)) {
        out.insert(out.end(), held_.begin(), held_.end());
        held_.clear();
    }
}

}  // namespace korvel::bench
