#include "procedures/resident_loader/resident_loader_procedure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "serial/virtual_serial_device.h"
#include "sim/resident_loader_model.h"
#include "tests/support/scripted_line_end.h"

namespace korvel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;
constexpr VirtualNs kMs = 1'000'000;
constexpr auto kByOffset = ResidentLoaderProcedure::Addressing::ByOffset;
constexpr auto kByAddress = ResidentLoaderProcedure::Addressing::ByAddress;
enum : std::uint8_t {
    kConnect = 0x10,
    kRestart = 0x11,
    kPrepare = 0x16,
    kWriteAtOffset = 0x17,
    kErase = 0x20,
    kWriteAtAddress = 0x21
};

const Bytes kConnectFrame = {0x02, 0x10, 0x00, 0x00, 0x10, 0x03};
// Sector 98304 = 0x00018000: 0x20 + 0x04 + 0x01 + 0x80 = 0xA5.
const Bytes kErase98304Frame = {0x02, 0x20, 0x00, 0x04, 0x00, 0x01, 0x80, 0x00, 0xA5, 0x03};
const Bytes kErase131072Frame = {0x02, 0x20, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00, 0x26, 0x03};

Bytes Image(std::size_t size) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    }
    return image;
}

Bytes Slice(const Bytes& b, std::size_t from, std::size_t count) {
    from = std::min(from, b.size());
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
                 b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), from + count)));
}

bool AllFF(auto first, auto last) {
    return std::all_of(first, last, [](std::uint8_t b) { return b == 0xFF; });
}

sim::ResidentLoaderFaults Fault(const std::string& text) {
    sim::ResidentLoaderFaults faults;
    std::string error;
    EXPECT_TRUE(sim::ParseResidentLoaderFault(text, faults, error)) << error;
    return faults;
}

// A procedure on a virtual line to `end`, with the host's bytes on the wire
// and everything the procedure reported.
struct Bench {
    explicit Bench(VirtualLineEnd& end) {
        VirtualSerialDevice::Options options;
        options.wireLog = &wire;
        auto dev = std::make_unique<VirtualSerialDevice>(end, options);
        device = dev.get();
        proc = std::make_unique<ResidentLoaderProcedure>(std::move(dev),
                                                         ResidentLoaderProcedure::kLineFlags,
                                                         ResidentLoaderProcedure::kBaudRate);
        EXPECT_TRUE(proc->port.open());
        proc->onProgressMax = [this](int m) { maximum.push_back(m); };
        proc->onProgressPosition = [this](int p) { positions.push_back(p); };
        proc->onStatus = [this](const std::string& t) {
            statuses.push_back(t);
            if (onStatus) {
                onStatus(t);
            }
        };
    }
    Bytes hostBytes() const {
        Bytes out;
        for (const WireEvent& e : wire) {
            if (e.kind == WireEvent::Kind::HostByte) {
                out.push_back(e.byte);
            }
        }
        return out;
    }
    RunResult run(bool absolute, const Bytes& image) {
        return proc->Run(image, absolute ? kByAddress : kByOffset);
    }

    std::vector<WireEvent> wire;
    VirtualSerialDevice* device = nullptr;
    std::unique_ptr<ResidentLoaderProcedure> proc;
    std::vector<int> maximum, positions;
    Strings statuses;
    std::function<void(const std::string&)> onStatus;
};

// The model is a base ahead of Bench: the bench opens the port onto it.
struct ModelHolder {
    sim::ResidentLoaderModel model;
};

struct ModelBench : ModelHolder, Bench {
    explicit ModelBench(sim::ResidentLoaderFaults faults = {})
        : ModelHolder{sim::ResidentLoaderModel(faults)}, Bench(model) {}
    Bytes commands() const {
        Bytes out;
        for (const auto& r : model.requests()) {
            out.push_back(r.command);
        }
        return out;
    }
    std::vector<std::uint32_t> arguments(std::uint8_t command) const {
        std::vector<std::uint32_t> out;
        for (const auto& r : model.requests()) {
            if (r.command == command) {
                out.push_back(r.argument());
            }
        }
        return out;
    }
};

TEST(ResidentLoaderProcedureTest, AbsoluteErasesTheSectorsThenWritesEveryStartedKilobyte) {
    ModelBench bench;
    const Bytes image = Image(40000);
    EXPECT_EQ(bench.proc->Run(image, kByAddress), RunResult::Success);

    const Bytes wire = bench.hostBytes();
    EXPECT_EQ(Slice(wire, 0, 6), kConnectFrame);
    EXPECT_EQ(Slice(wire, 6, 10), kErase98304Frame);
    EXPECT_EQ(Slice(wire, 16, 10), kErase131072Frame);
    EXPECT_EQ(wire.size(), 6u + 2 * 10 + 40 * 1034 + 6);

    Bytes commands = {kConnect, kErase, kErase};
    commands.insert(commands.end(), 40, kWriteAtAddress);
    commands.push_back(kRestart);
    EXPECT_EQ(bench.commands(), commands);
    const auto blocks = bench.arguments(kWriteAtAddress);
    ASSERT_EQ(blocks.size(), 40u);
    EXPECT_EQ(blocks.front(), 98304u);
    EXPECT_EQ(blocks.back(), 138240u);
    EXPECT_TRUE(std::adjacent_find(blocks.begin(), blocks.end(),
                                   [](auto a, auto b) { return b - a != 1024; }) == blocks.end());

    EXPECT_EQ(bench.maximum, std::vector<int>{40000});
    EXPECT_EQ(bench.positions.front(), 0);
    EXPECT_EQ(bench.positions.back(), 40960);
    Strings statuses = {"Connecting", "Connected", "Connected"};
    statuses.insert(statuses.end(), 40, "Programming");
    statuses.push_back("Reboot");
    EXPECT_EQ(bench.statuses, statuses);

    const auto area = bench.model.imageArea();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), area.begin()));
    EXPECT_TRUE(AllFF(area.begin() + 40000, area.begin() + 65536));
    EXPECT_TRUE(bench.model.unerasedWrites().empty());
    // Each phase is followed by its pause: at most ten requests a second.
    const auto& r = bench.model.requests();
    for (std::size_t i = 1; i < r.size(); ++i) {
        EXPECT_GE(r[i].at - r[i - 1].at, 100 * kMs) << "request " << i;
    }
}

TEST(ResidentLoaderProcedureTest, AbsoluteSendsOneRequestPerStartedSectorAndKilobyte) {
    struct Case {
        std::size_t size, erases, blocks;
    };
    for (const Case& c : {Case{1, 1, 1}, Case{1024, 1, 1}, Case{1025, 1, 2}, Case{32768, 1, 32},
                          Case{32769, 2, 33}}) {
        SCOPED_TRACE("size " + std::to_string(c.size));
        ModelBench bench;
        EXPECT_EQ(bench.proc->Run(Image(c.size), kByAddress), RunResult::Success);
        EXPECT_EQ(bench.arguments(kErase).size(), c.erases);
        EXPECT_EQ(bench.arguments(kWriteAtAddress).size(), c.blocks);
        EXPECT_EQ(bench.positions.back(), static_cast<int>(c.blocks * 1024));
    }
}

TEST(ResidentLoaderProcedureTest, RelativeSendsBlocksUpToTheFirstOffsetPastTheCount) {
    struct Case {
        std::size_t count;
        std::vector<std::uint32_t> offsets;
    };
    for (const Case& c : {Case{1002, {0, 1024}}, Case{2050, {0, 1024, 2048, 3072}},
                          Case{1024, {0, 1024, 2048}}, Case{2, {0, 1024}}}) {
        SCOPED_TRACE("count " + std::to_string(c.count));
        ModelBench bench;
        // How many requests the board had heard when each "Programming" showed.
        std::vector<std::size_t> heardAtProgramming, expectedHeard;
        bench.onStatus = [&](const std::string& t) {
            if (t == "Programming") {
                heardAtProgramming.push_back(bench.model.requests().size());
            }
        };
        const Bytes image = Image(c.count);
        EXPECT_EQ(bench.proc->Run(image, kByOffset), RunResult::Success);

        Bytes commands = {kConnect, kPrepare};
        commands.insert(commands.end(), c.offsets.size(), kWriteAtOffset);
        commands.push_back(kRestart);
        EXPECT_EQ(bench.commands(), commands);
        EXPECT_EQ(bench.arguments(kWriteAtOffset), c.offsets);
        for (std::size_t i = 0; i < c.offsets.size(); ++i) {
            expectedHeard.push_back(2 + i);
        }
        EXPECT_EQ(heardAtProgramming, expectedHeard);
        EXPECT_EQ(bench.maximum, std::vector<int>{static_cast<int>(c.count)});
        std::vector<int> positions = {0};
        positions.insert(positions.end(), c.offsets.begin(), c.offsets.end());
        EXPECT_EQ(bench.positions, positions);
        EXPECT_EQ(bench.statuses[1], "Connected");
        EXPECT_EQ(bench.statuses.back(), "Reboot");

        const auto area = bench.model.imageArea();
        EXPECT_TRUE(std::equal(image.begin(), image.end(), area.begin()));
        EXPECT_TRUE(AllFF(area.begin() + static_cast<std::ptrdiff_t>(c.count), area.end()));
    }
}

TEST(ResidentLoaderProcedureTest, BlockBytesPastTheImageAreTheErasedValue) {
    ModelBench bench;
    EXPECT_EQ(bench.proc->Run(Bytes(2050, 0x00), kByOffset), RunResult::Success);
    const Bytes wire = bench.hostBytes();
    const std::size_t at2048 = 6 + 6 + 2 * 1034;  // after connect, prepare, blocks 0 and 1024
    // 0x17 + 0x04 + 0x04 + 0x08 + 1022 x 0xFF (0x3F402) = 0x3F429.
    Bytes block2048 = {0x02, 0x17, 0x04, 0x04, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00};
    block2048.insert(block2048.end(), 1022, 0xFF);
    block2048.insert(block2048.end(), {0x29, 0x03});
    EXPECT_EQ(Slice(wire, at2048, 1034), block2048);
    // 0x17 + 0x04 + 0x04 + 0x0C + 1024 x 0xFF (0x3FC00) = 0x3FC2B.
    Bytes block3072 = {0x02, 0x17, 0x04, 0x04, 0x00, 0x00, 0x0C, 0x00};
    block3072.insert(block3072.end(), 1024, 0xFF);
    block3072.insert(block3072.end(), {0x2B, 0x03});
    EXPECT_EQ(Slice(wire, at2048 + 1034, 1034), block3072);
}

// Only the connect is answered, with `reply` starting `delay` after the
// request and `gap` between its bytes. The run ends with 4 either way, but
// the erase request goes out only when the reply was taken.
struct ConnectReply {
    const char* what;
    Bytes reply;
    VirtualNs delay;
    VirtualNs gap;
    bool accepted;
};

void ExpectConnectReply(const ConnectReply& c) {
    SCOPED_TRACE(c.what);
    test::ScriptedLineEnd end;
    end.responder = [&](VirtualNs at, std::uint8_t) {
        if (end.hostBytes.size() == 6) {
            end.send(at + c.delay, c.reply, c.gap);
        }
    };
    Bench bench(end);
    EXPECT_EQ(bench.proc->Run(Bytes{1}, kByAddress), RunResult::ProgrammingError);
    const Bytes wire = bench.hostBytes();
    EXPECT_EQ(Slice(wire, 0, 6), kConnectFrame);
    if (c.accepted) {
        EXPECT_EQ(Slice(wire, 6, 100), kErase98304Frame);
        EXPECT_EQ(bench.statuses, (Strings{"Connecting", "Connected"}));
    } else {
        EXPECT_EQ(wire.size(), 6u) << "nothing may follow a failed connect";
        EXPECT_EQ(bench.statuses, Strings{"Connecting"});
    }
}

Bytes LongReply() {
    // Command 0x7E, 300 payload bytes of 0x01: 0x7E + 0x01 + 0x2C + 300 = 0x1D7.
    Bytes b = {0x02, 0x7E, 0x01, 0x2C};
    b.insert(b.end(), 300, 0x01);
    b.insert(b.end(), {0xD7, 0x03});
    return b;
}

TEST(ResidentLoaderProcedureTest, AnyWellFormedReplyAnswersARequest) {
    const Bytes echo = kConnectFrame;
    const ConnectReply cases[] = {
        {"the connect echo", echo, 5 * kMs, 0, true},
        {"another command, a payload",
         {0x02, 0x7E, 0x00, 0x02, 0x01, 0x02, 0x83, 0x03},
         0,
         0,
         true},
        {"a payload longer than is kept", LongReply(), 0, 0, true},
        {"noise first", {0x00, 0xFF, 0x03, 0x02, 0x10, 0x00, 0x00, 0x10, 0x03}, 0, 0, true},
        {"bad sum, then a good frame",
         {0x02, 0x10, 0x00, 0x00, 0x11, 0x02, 0x11, 0x00, 0x00, 0x11, 0x03},
         0,
         0,
         true},
        {"bad sum", {0x02, 0x10, 0x00, 0x00, 0x11, 0x03}, 0, 0, false},
        {"no end byte", {0x02, 0x10, 0x00, 0x00, 0x10, 0x04}, 0, 0, false},
        {"payload shorter than announced", {0x02, 0x10, 0x00, 0x02, 0x01, 0x13, 0x03}, 0, 0, false},
        {"first byte after 2500 ms, the rest at once", echo, 2500 * kMs, 0, true},
        {"first byte after 3100 ms", echo, 3100 * kMs, 0, false},
        {"150 ms between bytes", echo, 0, 150 * kMs, true},
        {"300 ms between bytes", echo, 0, 300 * kMs, false},
    };
    for (const ConnectReply& c : cases) {
        ExpectConnectReply(c);
    }
}

TEST(ResidentLoaderProcedureTest, ASilentLoaderIsAskedOnceAndGivenUpAfterThreeSeconds) {
    ModelBench bench(Fault("silent"));
    EXPECT_EQ(bench.proc->Run(Image(100), kByOffset), RunResult::ProgrammingError);
    EXPECT_EQ(bench.hostBytes(), kConnectFrame);
    // 3000 ms of waiting and the 100 ms pause, give or take a few polls.
    EXPECT_GE(bench.device->now(), 3100 * kMs);
    EXPECT_LT(bench.device->now(), 3150 * kMs);
}

TEST(ResidentLoaderProcedureTest, AFailedRequestEndsTheRunWithoutRestart) {
    struct Case {
        const char* fault;
        bool absolute;
        RunResult result;
        std::size_t requests;
        Strings statuses;
    };
    const Case cases[] = {
        {"no-reply=2", false, RunResult::ProgrammingError, 2, {"Connecting", "Connected"}},
        {"bad-checksum=3",
         true,
         RunResult::ProgrammingError,
         3,
         {"Connecting", "Connected", "Connected"}},
        // Connect, two erases, 40 blocks: the last block goes unanswered.
        {"no-reply=43", true, RunResult::ProgrammingError, 43, {}},
        // Whether the restart is answered does not matter.
        {"no-reply=44", true, RunResult::Success, 44, {}},
        {"bad-checksum=44", true, RunResult::Success, 44, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        ModelBench bench(Fault(c.fault));
        EXPECT_EQ(bench.run(c.absolute, Image(40000)), c.result);
        EXPECT_EQ(bench.model.requests().size(), c.requests);
        if (!c.statuses.empty()) {
            EXPECT_EQ(bench.statuses, c.statuses);
        }
        if (c.result != RunResult::Success) {
            EXPECT_NE(bench.commands().back(), kRestart);
        }
    }
}

TEST(ResidentLoaderProcedureTest, StopIsSeenAfterThePhaseInProgress) {
    struct Case {
        bool absolute;
        const char* stopAt;  // the status text on whose n-th showing Stop comes
        int showing;
        Bytes commands;
    };
    const Case cases[] = {
        {false, "Connecting", 1, {kConnect}},
        {false, "Programming", 2, {kConnect, kPrepare, kWriteAtOffset, kWriteAtOffset}},
        {true, "Connected", 1, {kConnect, kErase}},
        {true, "Reboot", 1, {kConnect, kErase, kWriteAtAddress, kRestart}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stopAt);
        ModelBench bench;
        int seen = 0;
        bench.onStatus = [&](const std::string& t) {
            if (t == c.stopAt && ++seen == c.showing) {
                bench.proc->RequestAbort();
            }
        };
        EXPECT_EQ(bench.run(c.absolute, Image(1000)), RunResult::Aborted);
        EXPECT_EQ(bench.commands(), c.commands);
        // The phase's request was answered and its pause taken before stopping.
        EXPECT_TRUE(bench.model.requests().back().answered);
        EXPECT_GE(bench.device->now() - bench.model.requests().back().at, 100 * kMs);
    }
}

}  // namespace
}  // namespace korvel
