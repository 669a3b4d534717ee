// The framed link's reply side on arbitrary bytes: one command of the PCX
// protocol, answered attempt by attempt from the input. No exchange is
// aborted and a refusal carries a non-zero status; an accepted reply never holds
// more than the link's buffer, and an information reply yields at most three
// fields of at most 24 characters.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fuzz/scripted_board.h"
#include "procedures/controller_unit/framed_link.h"
#include "serial/virtual_serial_device.h"

namespace {

using korvel::FramedLink;
using korvel::LinkOutcome;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::uint8_t command = data[0] % 8;
    const auto attemptsOnTimeout = static_cast<std::uint16_t>(1 + (data[1] & 0x03) % 3);
    const auto attemptsOnBusy = static_cast<std::uint16_t>(1 + (data[1] >> 2 & 0x03) % 3);
    korvel::fuzz::ScriptedBoard board({data + 2, size - 2}, korvel::fuzz::FramedRequestEnd);
    korvel::VirtualSerialDevice::Options options;
    options.paced = false;
    FramedLink link(std::make_unique<korvel::VirtualSerialDevice>(board, options));
    Require(link.port().open());
    link.setAddress(0x22);
    // Short waits keep an unanswered attempt cheap; the parser is the same.
    link.setReplyTimeoutMs(40);
    link.setAttemptsOnTimeout(attemptsOnTimeout);
    link.setAttemptsOnBusy(attemptsOnBusy);

    static const std::uint8_t block[FramedLink::kBlockSize] = {};
    korvel::LoaderInfo info;
    korvel::LinkResult result;
    switch (command) {
        case 0:
            result = link.BeginProgramming();
            break;
        case 1:
            result = link.Ping();
            break;
        case 2:
            result = link.ReadInfo(info);
            break;
        case 3:
            result = link.ChangeBaudRate(115200);
            break;
        case 4:
            result = link.Erase(0x8000);
            break;
        case 5:
            result = link.WriteBlock(0x8000, block);
            break;
        case 6:
            result = link.LeaveLoader();
            break;
        default:
            result = link.Reboot();
            break;
    }
    Require(link.replyLength() <= FramedLink::kMaxPayload);
    Require(result.outcome != LinkOutcome::Aborted);
    Require((result.outcome == LinkOutcome::Refused) == (result.status != 0));
    Require(board.requests() <= std::max(attemptsOnTimeout, attemptsOnBusy));
    if (command == 2) {
        Require(info.field1.size() <= FramedLink::kMaxInfoField &&
                info.field2.size() <= FramedLink::kMaxInfoField &&
                info.field3.size() <= FramedLink::kMaxInfoField);
        if (!result.ok()) {
            Require(info.field1.empty() && info.field2.empty() && info.field3.empty());
        }
    } else if (result.ok()) {
        Require(link.replyLength() == 0);
    }
    return 0;
}
