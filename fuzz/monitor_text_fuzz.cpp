// The boot monitor's text search on arbitrary received bytes: WaitForText
// finds a text exactly when it occurs in what arrived (zero bytes dropped)
// and fits the receive buffer, whatever the bytes around it. Then a command
// whose echo is the rest of the input: any echo, short, long or garbled,
// costs at most the echo wait and never overruns the echo buffer.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/scripted_board.h"
#include "procedures/boot_monitor/boot_monitor_procedure.h"
#include "procedures/boot_monitor/rolling_text_buffer.h"
#include "serial/virtual_serial_device.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

constexpr unsigned kWaitMs = 50;
constexpr std::uint32_t kEchoWaitMs = 2000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // Needle length (1 byte), needle, received length (2 bytes, high first),
    // received bytes, then the echo as a script chunk.
    std::size_t pos = 1;
    const std::size_t needleLength = std::min<std::size_t>(data[0], size - pos);
    const std::string needle(reinterpret_cast<const char*>(data + pos), needleLength);
    pos += needleLength;
    std::size_t receivedLength = 0;
    if (pos + 2 <= size) {
        receivedLength = std::min<std::size_t>(data[pos] << 8 | data[pos + 1], size - pos - 2);
        pos += 2;
    }
    const std::string_view received(reinterpret_cast<const char*>(data + pos), receivedLength);
    pos += receivedLength;

    korvel::fuzz::ScriptedBoard board({data + pos, size - pos}, korvel::fuzz::MonitorCommandEnd);
    korvel::VirtualSerialDevice::Options options;
    options.paced = false;
    auto device = std::make_unique<korvel::VirtualSerialDevice>(board, options);
    korvel::VirtualSerialDevice& line = *device;
    korvel::BootMonitorProcedure proc(std::move(device));
    Require(proc.Open());
    board.queue(line.now() + 1'000'000,
                {reinterpret_cast<const std::uint8_t*>(received.data()), received.size()});

    const bool found = proc.WaitForText(needle, kWaitMs);
    std::string text;
    for (char c : received) {
        if (c != '\0') {
            text.push_back(c);
        }
    }
    const bool expected =
        !received.empty() &&
        (needle.empty() ||
         (needle.size() < korvel::RollingTextBuffer::kCapacity && text.find(needle) != text.npos));
    Require(found == expected);
    Require(proc.received().view().size() < korvel::RollingTextBuffer::kCapacity);

    const korvel::VirtualNs before = line.now();
    proc.SendCommand(needle);
    Require(line.now() - before <= (kEchoWaitMs + 50) * 1'000'000ull);
    return 0;
}
