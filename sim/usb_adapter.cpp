#include "sim/usb_adapter.h"

#include <algorithm>

namespace korvel::sim {

UsbAdapterModel::UsbAdapterModel(VirtualLineEnd& board, VirtualNs latency)
    : board_(board), latency_(latency) {}

void UsbAdapterModel::hostByte(VirtualNs at, std::uint8_t byte) {
    board_.hostByte(at, byte);
}

void UsbAdapterModel::hostBreak(VirtualNs at, bool on) {
    board_.hostBreak(at, on);
}

void UsbAdapterModel::hostLineSettings(VirtualNs at, const LineSettings& settings) {
    board_.hostLineSettings(at, settings);
}

std::optional<VirtualNs> UsbAdapterModel::timerEnds() const {
    if (held_.empty()) {
        return std::nullopt;
    }
    return held_.front().at + latency_;
}

std::optional<VirtualNs> UsbAdapterModel::nextBoardByte() {
    const auto arrival = board_.nextBoardByte();
    const auto timer = timerEnds();
    if (arrival && timer) {
        return std::min(*arrival, *timer);
    }
    return arrival ? arrival : timer;
}

void UsbAdapterModel::send(std::vector<std::uint8_t>& out) {
    const std::size_t n = std::min(held_.size(), kPacketBytes);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(held_.front().byte);
        held_.pop_front();
    }
}

std::size_t UsbAdapterModel::receive(VirtualNs at, std::vector<std::uint8_t>& out) {
    scratch_.clear();
    board_.takeBoardBytes(at, scratch_);
    for (std::uint8_t byte : scratch_) {
        held_.push_back({at, byte});
        if (held_.size() == kPacketBytes) {
            send(out);
        }
    }
    return scratch_.size();
}

void UsbAdapterModel::takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) {
    // Byte by byte in time order, so that each packet leaves when it filled
    // or when its timer ran out, whichever came first.
    for (;;) {
        const auto next = board_.nextBoardByte();
        const bool arrives = next.has_value() && *next <= now;
        const VirtualNs arrival = arrives ? *next : now;
        const auto timer = timerEnds();
        if (timer && *timer <= now && (!arrives || *timer <= arrival)) {
            send(out);
        } else if (!arrives || receive(arrival, out) == 0) {
            break;
        }
    }
    // Lets the board catch up with the clock (output that only time passing makes).
    receive(now, out);
    if (const auto timer = timerEnds(); timer && *timer <= now) {
        send(out);
    }
}

}  // namespace korvel::sim
