// The bound of a run, computed from scripted dialogues whose shortest time
// is known by hand: what the benchmarks report is only as good as this.
#include <gtest/gtest.h>

#include "bench/support/host_trace.h"
#include "bench/support/protocol_bound.h"
#include "serial/serial_port.h"
#include "tests/support/scripted_line_end.h"

namespace korvel::bench {
namespace {

constexpr VirtualNs kMs = 1'000'000;
constexpr int kBaud = 9600;
// 10 bits at 9600 baud.
constexpr VirtualNs kChar = 1'041'666;

struct TracedLine {
    TracedLine() {
        VirtualSerialDevice::Options options;
        options.wireLog = &wire;
        auto line = std::make_unique<VirtualSerialDevice>(end, options);
        device = line.get();
        port = std::make_unique<SerialPort>(
            std::make_unique<HostTraceDevice>(std::move(line), wire, steps, endNs), kBaud, 0x00);
        EXPECT_TRUE(port->open());
    }
    ProtocolBound bound() const { return ComputeProtocolBound(wire, steps); }
    void send(const std::string& text) {
        port->write(reinterpret_cast<const std::uint8_t*>(text.data()),
                    static_cast<std::uint16_t>(text.size()));
    }
    // Reads one byte at a time until `count` came, sleeping 2 ms after an
    // empty read, as a polling procedure does.
    void receive(std::size_t count) {
        for (std::size_t got = 0; got < count;) {
            std::uint8_t b = 0;
            if (port->read(&b, 1) == 1) {
                ++got;
            } else {
                port->waitMs(1);
            }
        }
    }

    test::ScriptedLineEnd end;
    std::vector<WireEvent> wire;
    std::vector<HostStep> steps;
    VirtualNs endNs = 0;
    VirtualSerialDevice* device = nullptr;
    std::unique_ptr<SerialPort> port;
};

TEST(ProtocolBoundTest, AnEchoRunningBesideTheHostsBytesIsCountedOnce) {
    TracedLine t;
    // The board echoes every byte as it completes.
    t.end.responder = [&](VirtualNs at, std::uint8_t b) { t.end.send(at + kChar, {b}); };
    t.send("ABCDEFGHIJ");
    t.receive(10);
    const ProtocolBound b = t.bound();
    EXPECT_EQ(b.boundNs, 11 * kChar);
    EXPECT_EQ(b.hostLineNs, 10 * kChar);
    EXPECT_EQ(b.boardLineNs, 10 * kChar);
}

TEST(ProtocolBoundTest, TheBoardsDelayAndTheDialoguesPausesCountPollingSleepsDoNot) {
    TracedLine t;
    // Each request byte gets a two-byte answer after 7.5 ms of flash work.
    t.end.responder = [&](VirtualNs at, std::uint8_t) {
        t.end.send(at + 7 * kMs + kMs / 2 + kChar, {'O', 'K'}, kChar);
    };
    t.send("W");
    t.receive(2);
    t.port->waitMs(100);  // a pause of the dialogue: 102 ms in 2 ms steps
    t.send("W");
    t.receive(2);
    const ProtocolBound b = t.bound();
    const VirtualNs exchange = kChar + 7 * kMs + kMs / 2 + 2 * kChar;
    EXPECT_EQ(b.boundNs, 2 * exchange + 102 * kMs);
    EXPECT_EQ(b.pauseNs, 102 * kMs);
    EXPECT_EQ(b.boardWaitNs, 2 * (7 * kMs + kMs / 2));
    EXPECT_GT(b.pollNs, 0u);
    // The answers came while the host slept between polls: it saw them late.
    EXPECT_GT(t.device->now(), b.boundNs);
}

TEST(ProtocolBoundTest, ALateHostDoesNotMakeTheBoardLate) {
    TracedLine t;
    t.end.responder = [&](VirtualNs at, std::uint8_t) { t.end.send(at + kChar, {'!'}); };
    t.send("?");
    t.receive(1);
    // The host dawdles in polls for 50 ms before its next request; the
    // board answers that one at once all the same.
    for (int i = 0; i < 25; ++i) {
        std::uint8_t b = 0;
        ASSERT_EQ(t.port->read(&b, 0), 0);
        t.port->waitMs(1);
        ASSERT_EQ(t.port->read(&b, 0), 0);
    }
    t.send("?");
    t.receive(1);
    EXPECT_EQ(t.bound().boundNs, 4 * kChar);
    EXPECT_GT(t.device->now(), 4 * kChar + 50 * kMs);
}

TEST(ProtocolBoundTest, PurgedBytesAreNotWaitedForButStillHoldTheBoardsLine) {
    TracedLine t;
    // A banner the host throws away, then an answer to its request.
    t.end.send(kMs, {'x', 'x', 'x'}, kChar);
    t.port->waitMs(10);
    t.port->discardInput();
    t.port->discardOutput();
    t.end.responder = [&](VirtualNs at, std::uint8_t) { t.end.send(at + kChar, {'y'}); };
    t.send("?");
    t.receive(1);
    // Waiting 12 ms was the host's choice of pause; the answer follows the request.
    EXPECT_EQ(t.bound().boundNs, 12 * kMs + 2 * kChar);
}

}  // namespace
}  // namespace korvel::bench
