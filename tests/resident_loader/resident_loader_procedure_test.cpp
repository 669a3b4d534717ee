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
using sim::ResidentLoaderModel;
constexpr VirtualNs kMs = 1'000'000;

constexpr std::uint8_t kConnect = 0x10;
constexpr std::uint8_t kRestart = 0x11;
constexpr std::uint8_t kPrepare = 0x16;
constexpr std::uint8_t kWriteAtOffset = 0x17;
constexpr std::uint8_t kEraseSector = 0x20;
constexpr std::uint8_t kWriteAtAddress = 0x21;

const Bytes kConnectFrame = {0x02, 0x10, 0x00, 0x00, 0x10, 0x03};
// Erase of the sector at 98304 (0x00018000): 0x20 + 0x04 + 0x01 + 0x80 = 0xA5.
const Bytes kErase98304Frame = {0x02, 0x20, 0x00, 0x04, 0x00, 0x01, 0x80, 0x00, 0xA5, 0x03};
const Bytes kErase131072Frame = {0x02, 0x20, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00, 0x26, 0x03};

Bytes Image(std::size_t size) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<std::uint8_t>((i * 7 + i / 256) & 0xFF);
    }
    return image;
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t count) {
    if (from >= bytes.size()) {
        return {};
    }
    const std::size_t end = std::min(bytes.size(), from + count);
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

// One procedure on a virtual line to a far end, with everything it reports.
// Each status text is noted with the number of requests the board had heard
// by then, so tests can see what was shown before which request.
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

    std::vector<WireEvent> wire;
    VirtualSerialDevice* device = nullptr;
    std::unique_ptr<ResidentLoaderProcedure> proc;
    std::vector<int> maximum;
    std::vector<int> positions;
    std::vector<std::string> statuses;
    std::function<void(const std::string&)> onStatus;
};

// The model comes first among the bases: the bench opens the port onto it.
struct ModelHolder {
    explicit ModelHolder(sim::ResidentLoaderFaults faults) : model(faults) {}
    ResidentLoaderModel model;
};

struct ModelBench : ModelHolder, Bench {
    explicit ModelBench(sim::ResidentLoaderFaults faults = {})
        : ModelHolder(faults), Bench(model) {}

    std::vector<std::uint8_t> commands() const {
        std::vector<std::uint8_t> out;
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

// Faults as korvel-sim takes them on its command line.
sim::ResidentLoaderFaults Faults(std::initializer_list<std::string> texts) {
    sim::ResidentLoaderFaults faults;
    std::string error;
    for (const std::string& t : texts) {
        EXPECT_TRUE(sim::ParseResidentLoaderFault(t, faults, error)) << error;
    }
    return faults;
}

std::vector<std::uint32_t> Steps(std::uint32_t from, std::uint32_t step, int count) {
    std::vector<std::uint32_t> out;
    for (int i = 0; i < count; ++i) {
        out.push_back(from + step * static_cast<std::uint32_t>(i));
    }
    return out;
}

TEST(ResidentLoaderProcedureTest, AbsoluteErasesTheSectorsThenWritesEveryStartedKilobyte) {
    ModelBench bench;
    const Bytes image = Image(40000);
    EXPECT_EQ(bench.proc->RunAbsolute(image), RunResult::Success);

    const Bytes wire = bench.hostBytes();
    EXPECT_EQ(Slice(wire, 0, 6), kConnectFrame);
    EXPECT_EQ(Slice(wire, 6, 10), kErase98304Frame);
    EXPECT_EQ(Slice(wire, 16, 10), kErase131072Frame);
    // Connect, two erases, 40 blocks of 1034 bytes, restart.
    EXPECT_EQ(wire.size(), 6u + 2 * 10 + 40 * 1034 + 6);

    std::vector<std::uint8_t> expected = {kConnect, kEraseSector, kEraseSector};
    expected.insert(expected.end(), 40, kWriteAtAddress);
    expected.push_back(kRestart);
    EXPECT_EQ(bench.commands(), expected);
    EXPECT_EQ(bench.arguments(kEraseSector), (std::vector<std::uint32_t>{98304, 131072}));
    EXPECT_EQ(bench.arguments(kWriteAtAddress), Steps(98304, 1024, 40));

    EXPECT_EQ(bench.maximum, std::vector<int>{40000});
    ASSERT_FALSE(bench.positions.empty());
    EXPECT_EQ(bench.positions.front(), 0);
    EXPECT_EQ(bench.positions.back(), 40960);

    std::vector<std::string> statuses = {"Connecting", "Connected", "Connected"};
    statuses.insert(statuses.end(), 40, "Programming");
    statuses.push_back("Reboot");
    EXPECT_EQ(bench.statuses, statuses);

    // The board holds the image, erased flash after it up to the sector end,
    // and was never asked to write over flash it had not erased.
    const auto area = bench.model.imageArea();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), area.begin()));
    EXPECT_TRUE(std::all_of(area.begin() + 40000, area.begin() + 65536,
                            [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(bench.model.unerasedWrites().empty());
    EXPECT_EQ(bench.model.restarts(), 1);
}

TEST(ResidentLoaderProcedureTest, EveryPhaseIsFollowedByItsPause) {
    ModelBench bench;
    EXPECT_EQ(bench.proc->RunAbsolute(Image(3000)), RunResult::Success);
    const auto& requests = bench.model.requests();
    ASSERT_EQ(requests.size(), 1u + 1 + 3 + 1);
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_GE(requests[i].at - requests[i - 1].at, ResidentLoaderProcedure::kPhasePauseMs * kMs)
            << "request " << i;
    }
}

TEST(ResidentLoaderProcedureTest, RelativeSendsBlocksUpToTheFirstOffsetPastTheCount) {
    struct Case {
        std::size_t count;
        std::vector<std::uint32_t> offsets;
    };
    const Case cases[] = {
        {1002, {0, 1024}},
        {2050, {0, 1024, 2048, 3072}},
        {1024, {0, 1024, 2048}},
        {2, {0, 1024}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("count " + std::to_string(c.count));
        ModelBench bench;
        std::vector<std::size_t> requestsAtProgramming;
        bench.onStatus = [&](const std::string& t) {
            if (t == "Programming") {
                requestsAtProgramming.push_back(bench.model.requests().size());
            }
        };
        const Bytes image = Image(c.count);
        EXPECT_EQ(bench.proc->RunRelative(image), RunResult::Success);

        std::vector<std::uint8_t> expected = {kConnect, kPrepare};
        expected.insert(expected.end(), c.offsets.size(), kWriteAtOffset);
        expected.push_back(kRestart);
        EXPECT_EQ(bench.commands(), expected);
        EXPECT_EQ(bench.arguments(kWriteAtOffset), c.offsets);
        // "Programming" is shown before each block is requested.
        std::vector<std::size_t> before;
        for (std::size_t i = 0; i < c.offsets.size(); ++i) {
            before.push_back(2 + i);
        }
        EXPECT_EQ(requestsAtProgramming, before);

        EXPECT_EQ(bench.maximum, std::vector<int>{static_cast<int>(c.count)});
        std::vector<int> positions = {0};
        positions.insert(positions.end(), c.offsets.begin(), c.offsets.end());
        EXPECT_EQ(bench.positions, positions);
        EXPECT_EQ(bench.statuses.front(), "Connecting");
        EXPECT_EQ(bench.statuses[1], "Connected");
        EXPECT_EQ(bench.statuses.back(), "Reboot");

        const auto area = bench.model.imageArea();
        EXPECT_TRUE(std::equal(image.begin(), image.end(), area.begin()));
        EXPECT_TRUE(std::all_of(area.begin() + static_cast<std::ptrdiff_t>(c.count), area.end(),
                                [](std::uint8_t b) { return b == 0xFF; }));
        EXPECT_TRUE(bench.model.unerasedWrites().empty());
    }
}

TEST(ResidentLoaderProcedureTest, BlockBytesPastTheImageAreTheErasedValue) {
    ModelBench bench;
    const Bytes zeros(2050, 0x00);
    EXPECT_EQ(bench.proc->RunRelative(zeros), RunResult::Success);
    const Bytes wire = bench.hostBytes();
    // Connect, prepare, then blocks at 0 and 1024 before the two checked here.
    const std::size_t at2048 = 6 + 6 + 2 * 1034;
    // 0x17 + 0x04 + 0x04 + 0x08 + (1022 x 0xFF = 0x3F402, low byte 0x02) = 0x29.
    Bytes block2048 = {0x02, 0x17, 0x04, 0x04, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00};
    block2048.insert(block2048.end(), 1022, 0xFF);
    block2048.push_back(0x29);
    block2048.push_back(0x03);
    EXPECT_EQ(Slice(wire, at2048, 1034), block2048);
    // 0x17 + 0x04 + 0x04 + 0x0C + (1024 x 0xFF, low byte 0x00) = 0x2B.
    Bytes block3072 = {0x02, 0x17, 0x04, 0x04, 0x00, 0x00, 0x0C, 0x00};
    block3072.insert(block3072.end(), 1024, 0xFF);
    block3072.push_back(0x2B);
    block3072.push_back(0x03);
    EXPECT_EQ(Slice(wire, at2048 + 1034, 1034), block3072);

    // The last absolute block of a 1-byte image: the byte, then 1023 x 0xFF.
    ModelBench absolute;
    EXPECT_EQ(absolute.proc->RunAbsolute(Bytes{0x5A}), RunResult::Success);
    ASSERT_EQ(absolute.arguments(kWriteAtAddress), std::vector<std::uint32_t>{98304});
    const auto& payload = absolute.model.requests()[2].payload;
    ASSERT_EQ(payload.size(), 1028u);
    EXPECT_EQ(payload[4], 0x5A);
    EXPECT_TRUE(
        std::all_of(payload.begin() + 5, payload.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

// Answers only the first request (the connect) with `reply`, sent `delay`
// after the request was complete and with `gap` between its bytes.
struct ConnectReply {
    const char* what;
    Bytes reply;
    VirtualNs delay;
    VirtualNs gap;
    bool accepted;
};

void RunAgainstConnectReply(const ConnectReply& c) {
    SCOPED_TRACE(c.what);
    test::ScriptedLineEnd end;
    end.responder = [&](VirtualNs at, std::uint8_t) {
        if (end.hostBytes.size() == 6) {
            end.send(at + c.delay, c.reply, c.gap);
        }
    };
    Bench bench(end);
    // Only the connect is answered: a run ends with 4 either way, but the
    // erase request goes out only when the connect reply was taken.
    EXPECT_EQ(bench.proc->RunAbsolute(Bytes{1}), RunResult::ProgrammingError);
    const Bytes wire = bench.hostBytes();
    EXPECT_EQ(Slice(wire, 0, 6), kConnectFrame);
    if (c.accepted) {
        EXPECT_EQ(Slice(wire, 6, 100), kErase98304Frame);
        EXPECT_EQ(bench.statuses, (std::vector<std::string>{"Connecting", "Connected"}));
    } else {
        EXPECT_EQ(wire.size(), 6u) << "nothing may follow a failed connect";
        EXPECT_EQ(bench.statuses, std::vector<std::string>{"Connecting"});
    }
}

TEST(ResidentLoaderProcedureTest, AnyWellFormedReplyAnswersARequest) {
    const ConnectReply cases[] = {
        {"the connect echo", {0x02, 0x10, 0x00, 0x00, 0x10, 0x03}, 5 * kMs, 0, true},
        {"another command and a payload",
         {0x02, 0x7E, 0x00, 0x03, 0x01, 0x02, 0x03, 0x87, 0x03},
         5 * kMs,
         0,
         true},
        {"noise first", {0x00, 0xFF, 0x02, 0x10, 0x00, 0x00, 0x10, 0x03}, 5 * kMs, 0, true},
        {"bad sum", {0x02, 0x10, 0x00, 0x00, 0x11, 0x03}, 5 * kMs, 0, false},
        {"no end byte", {0x02, 0x10, 0x00, 0x00, 0x10, 0x04}, 5 * kMs, 0, false},
        {"cut short", {0x02, 0x10, 0x00, 0x00}, 5 * kMs, 0, false},
    };
    for (const ConnectReply& c : cases) {
        RunAgainstConnectReply(c);
    }
}

TEST(ResidentLoaderProcedureTest, TheLoaderHasThreeSecondsToStartAndTwoTenthsBetweenBytes) {
    const Bytes echo = {0x02, 0x10, 0x00, 0x00, 0x10, 0x03};
    const ConnectReply cases[] = {
        {"first byte after 2500 ms, the rest at once", echo, 2500 * kMs, 0, true},
        {"first byte after 2990 ms", echo, 2990 * kMs, 0, true},
        {"first byte after 3100 ms", echo, 3100 * kMs, 0, false},
        {"150 ms between every byte", echo, 5 * kMs, 150 * kMs, true},
        {"300 ms between bytes", echo, 5 * kMs, 300 * kMs, false},
    };
    for (const ConnectReply& c : cases) {
        RunAgainstConnectReply(c);
    }
}

TEST(ResidentLoaderProcedureTest, ASilentLoaderIsAskedOnceAndGivenUpAfterThreeSeconds) {
    ModelBench bench(Faults({"silent"}));
    EXPECT_EQ(bench.proc->RunRelative(Image(100)), RunResult::ProgrammingError);
    EXPECT_EQ(bench.hostBytes(), kConnectFrame);
    // 3000 ms of waiting and the 100 ms pause, give or take a few polls.
    EXPECT_GE(bench.device->now(), 3100 * kMs);
    EXPECT_LT(bench.device->now(), 3150 * kMs);
}

TEST(ResidentLoaderProcedureTest, AFailedRequestEndsTheRunWithoutRestart) {
    struct Case {
        const char* what;
        sim::ResidentLoaderFaults faults;
        bool absolute;
        std::vector<std::uint8_t> commands;
        std::vector<std::string> statuses;
    };
    std::vector<std::uint8_t> lastBlockFails = {kConnect, kEraseSector, kEraseSector};
    lastBlockFails.insert(lastBlockFails.end(), 40, kWriteAtAddress);
    const Case cases[] = {
        {"unanswered prepare",
         Faults({"no-reply=2"}),
         false,
         {kConnect, kPrepare},
         {"Connecting", "Connected"}},
        {"garbled reply to the last erase",
         Faults({"bad-checksum=3"}),
         true,
         {kConnect, kEraseSector, kEraseSector},
         {"Connecting", "Connected", "Connected"}},
        {"unanswered last block", Faults({"no-reply=43"}), true, lastBlockFails, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModelBench bench(c.faults);
        const Bytes image = Image(40000);
        const RunResult result =
            c.absolute ? bench.proc->RunAbsolute(image) : bench.proc->RunRelative(image);
        EXPECT_EQ(result, RunResult::ProgrammingError);
        EXPECT_EQ(bench.commands(), c.commands);
        if (!c.statuses.empty()) {
            EXPECT_EQ(bench.statuses, c.statuses);
        }
        EXPECT_NE(bench.statuses.back(), "Reboot");
        EXPECT_EQ(bench.model.restarts(), 0);
    }
}

TEST(ResidentLoaderProcedureTest, AnUnansweredRestartStillFinishes) {
    ModelBench relative(Faults({"no-reply=5"}));  // connect, prepare, 2 blocks, restart
    EXPECT_EQ(relative.proc->RunRelative(Image(1002)), RunResult::Success);
    EXPECT_EQ(relative.commands().back(), kRestart);

    ModelBench absolute(Faults({"bad-checksum=4"}));  // connect, erase, 1 block, restart
    EXPECT_EQ(absolute.proc->RunAbsolute(Image(1000)), RunResult::Success);
    EXPECT_EQ(absolute.commands().back(), kRestart);
}

TEST(ResidentLoaderProcedureTest, StopIsSeenAfterThePhaseInProgress) {
    struct Case {
        const char* what;
        bool absolute;
        const char* stopAt;  // status text on whose n-th showing Stop is pressed
        int showing;
        std::vector<std::uint8_t> commands;
    };
    const Case cases[] = {
        {"while connecting", false, "Connecting", 1, {kConnect}},
        {"during the second block",
         false,
         "Programming",
         2,
         {kConnect, kPrepare, kWriteAtOffset, kWriteAtOffset}},
        {"during the first erase", true, "Connected", 1, {kConnect, kEraseSector}},
        {"during the restart", true, "Reboot", 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModelBench bench;
        int seen = 0;
        VirtualNs stoppedAt = 0;
        bench.onStatus = [&](const std::string& t) {
            if (t == c.stopAt && ++seen == c.showing) {
                bench.proc->RequestAbort();
                stoppedAt = bench.device->now();
            }
        };
        const Bytes image = Image(5000);
        const RunResult result =
            c.absolute ? bench.proc->RunAbsolute(image) : bench.proc->RunRelative(image);
        EXPECT_EQ(result, RunResult::Aborted);
        if (!c.commands.empty()) {
            EXPECT_EQ(bench.commands(), c.commands);
        } else {
            EXPECT_EQ(bench.commands().back(), kRestart);
        }
        // The phase's request was answered and the pause taken before stopping.
        EXPECT_TRUE(bench.model.requests().back().answered);
        EXPECT_GE(bench.device->now() - bench.model.requests().back().at,
                  ResidentLoaderProcedure::kPhasePauseMs * kMs);
        EXPECT_GT(bench.device->now(), stoppedAt);
    }
}

}  // namespace
}  // namespace korvel
