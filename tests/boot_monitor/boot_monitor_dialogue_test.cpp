#include <gtest/gtest.h>

#include "procedures/boot_monitor/boot_monitor_procedure.h"
#include "serial/virtual_serial_device.h"
#include "sim/boot_monitor_model.h"
#include "tests/support/scripted_line_end.h"

// Whole boot-monitor runs against the board model (or a script) in virtual time.
namespace korvel {
namespace {

constexpr VirtualNs kMs = 1'000'000;
const std::string kBreak = "<BREAK>";

std::vector<std::uint8_t> Image(std::size_t size, int seed) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<std::uint8_t>('a' + (i * 7 + seed) % 26);
    }
    return image;
}

std::string Text(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

sim::BootMonitorConfig WithFaults(std::initializer_list<const char*> names) {
    sim::BootMonitorConfig config;
    std::string error;
    for (const char* name : names) {
        EXPECT_TRUE(sim::AddBootMonitorFault(name, config.faults, error)) << error;
    }
    return config;
}

// What one run did, as the host saw it.
struct RunRecord {
    RunResult result = RunResult::ProgrammingError;
    std::string host;  // host bytes, with kBreak where a BREAK began
    std::string board;
    std::vector<WireEvent> wire;
    std::vector<int> maxima;
    std::vector<int> positions;
    std::vector<std::string> statuses;
    VirtualNs elapsed = 0;
};

RunRecord Program(VirtualLineEnd& board, const std::vector<std::uint8_t>& main,
                  const std::vector<std::uint8_t>& second) {
    RunRecord r;
    VirtualSerialDevice::Options options;
    options.wireLog = &r.wire;
    auto device = std::make_unique<VirtualSerialDevice>(board, options);
    VirtualSerialDevice* dev = device.get();
    BootMonitorProcedure proc(std::move(device));
    proc.onProgressMax = [&](int m) { r.maxima.push_back(m); };
    proc.onProgressPosition = [&](int p) { r.positions.push_back(p); };
    proc.onStatus = [&](const std::string& t) { r.statuses.push_back(t); };
    EXPECT_TRUE(proc.Open());
    r.result = proc.Run(main, second);
    proc.Close();
    r.elapsed = dev->now();
    for (const WireEvent& e : r.wire) {
        if (e.kind == WireEvent::Kind::HostByte) {
            r.host.push_back(static_cast<char>(e.byte));
        } else if (e.kind == WireEvent::Kind::BreakOn) {
            r.host += kBreak;
        } else if (e.kind == WireEvent::Kind::BoardByte) {
            r.board.push_back(static_cast<char>(e.byte));
        }
    }
    return r;
}

// The host's bytes after the key presses that caught the monitor; those
// before must all be single spaces.
std::string AfterKeys(const RunRecord& r) {
    const auto wake = r.host.find("\r\n");
    EXPECT_NE(wake, std::string::npos);
    EXPECT_EQ(r.host.find_first_not_of(' '), wake) << "only spaces before the wake-up";
    EXPECT_GE(wake, 50u);
    return r.host.substr(wake);
}

// Sizes of the raw chunks of the image that ends at the index-th BREAK: host
// bytes more than a millisecond apart start a new chunk.
std::vector<std::size_t> Chunks(const RunRecord& r, std::size_t imageSize, int breakIndex) {
    std::vector<VirtualNs> times;
    int breaks = 0;
    for (const WireEvent& e : r.wire) {
        if (e.kind == WireEvent::Kind::BreakOn && breaks++ == breakIndex) {
            break;
        }
        if (e.kind == WireEvent::Kind::HostByte) {
            times.push_back(e.at);
        }
    }
    std::vector<std::size_t> chunks;
    for (std::size_t i = times.size() - imageSize; i < times.size(); ++i) {
        if (chunks.empty() || times[i] - times[i - 1] > kMs) {
            chunks.push_back(0);
        }
        ++chunks.back();
    }
    return chunks;
}

struct BreakTiming {
    VirtualNs quietBefore;  // last host byte to BREAK on
    VirtualNs held;         // BREAK on to off
    VirtualNs quietAfter;   // BREAK off to the next host byte
};

std::vector<BreakTiming> Breaks(const RunRecord& r) {
    std::vector<BreakTiming> breaks;
    VirtualNs lastHost = 0;
    VirtualNs on = 0;
    for (const WireEvent& e : r.wire) {
        if (e.kind == WireEvent::Kind::HostByte) {
            if (!breaks.empty() && breaks.back().quietAfter == 0) {
                breaks.back().quietAfter = e.at - (on + breaks.back().held);
            }
            lastHost = e.at;
        } else if (e.kind == WireEvent::Kind::BreakOn) {
            on = e.at;
            breaks.push_back({on - lastHost, 0, 0});
        } else if (e.kind == WireEvent::Kind::BreakOff) {
            breaks.back().held = e.at - on;
        }
    }
    return breaks;
}

TEST(BootMonitorDialogueTest, FlashStageThenMainImageWithTheExactCommandsAndBreaks) {
    sim::BootMonitorModel board;
    const auto main = Image(250, 1);
    const auto second = Image(1234, 2);
    const RunRecord r = Program(board, main, second);

    EXPECT_EQ(r.result, RunResult::Success);
    EXPECT_EQ(AfterKeys(r), "\r\nload term raw 0x83fa0000\r" + Text(second) + kBreak +
                                "nsave\raboot flash raw 0x83fa0000\rprompt RV4500> 1\r"
                                "load term raw 0x80000000\r" +
                                Text(main) + kBreak + "exec 0x80000000\r");
    EXPECT_EQ(board.images().at(0x83fa0000), second);
    EXPECT_EQ(board.images().at(0x80000000), main);
    EXPECT_TRUE(board.environmentSaved());
    EXPECT_EQ(board.autoStart(), "flash raw 0x83fa0000");
    EXPECT_EQ(board.prompt(), "RV4500> ");
    EXPECT_TRUE(board.started());
    EXPECT_EQ(board.transferEnds(), (std::vector<std::string>{"BREAK", "BREAK"}));

    EXPECT_EQ(r.statuses,
              (std::vector<std::string>{"Power ON", "Connected", "Programming", "Done"}));
    EXPECT_EQ(r.maxima, (std::vector<int>{2234, 2234, 1250}));
    EXPECT_EQ(r.positions.front(), 0);
    EXPECT_EQ(r.positions.back(), 1250);

    const auto breaks = Breaks(r);
    ASSERT_EQ(breaks.size(), 2u);
    // Flash stage: 300 ms of quiet each side, then 1000 ms before "nsave".
    EXPECT_GE(breaks[0].quietBefore, 300 * kMs);
    EXPECT_GE(breaks[0].held, 200 * kMs);
    EXPECT_GE(breaks[0].quietAfter, 1300 * kMs);
    EXPECT_LT(breaks[0].quietAfter, 1400 * kMs);
    // Main image: 1000 ms each side, then the start command.
    EXPECT_GE(breaks[1].quietBefore, 1000 * kMs);
    EXPECT_GE(breaks[1].held, 200 * kMs);
    EXPECT_GE(breaks[1].quietAfter, 1000 * kMs);
    EXPECT_LT(breaks[1].quietAfter, 1100 * kMs);
}

TEST(BootMonitorDialogueTest, RawChunksOfOneHundredWithTheirProgressPositions) {
    struct Case {
        std::size_t size;
        std::vector<std::size_t> chunks;
        std::vector<int> positions;
    };
    const Case cases[] = {
        {250, {100, 100, 50}, {0, 500, 500, 600, 700, 800, 1250}},
        // A multiple of 100 ends with an empty pass that still moves the bar.
        {200, {100, 100}, {0, 500, 500, 600, 700, 800, 1200}},
        {0, {}, {0, 500, 500, 600, 1000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        sim::BootMonitorModel board;
        const RunRecord r = Program(board, Image(c.size, 3), {});
        EXPECT_EQ(r.result, RunResult::Success);
        EXPECT_EQ(Chunks(r, c.size, 0), c.chunks);
        EXPECT_EQ(r.positions, c.positions);
        EXPECT_EQ(r.maxima, (std::vector<int>{1000, static_cast<int>(c.size) + 1000}));
        // Second size 0: straight from the prompt to the main image.
        EXPECT_EQ(board.commands(),
                  (std::vector<std::string>{"load term raw 0x80000000", "exec 0x80000000"}));
    }
}

TEST(BootMonitorDialogueTest, ChunksAreSpacedByTheirPauseAloneNotByAWaitingRead) {
    sim::BootMonitorModel board;
    const RunRecord r = Program(board, Image(1000, 4), {});
    ASSERT_EQ(r.result, RunResult::Success);
    // First host byte of each 100-byte chunk of the image.
    std::vector<VirtualNs> starts;
    VirtualNs last = 0;
    for (const WireEvent& e : r.wire) {
        if (e.kind == WireEvent::Kind::BreakOn) {
            break;
        }
        if (e.kind == WireEvent::Kind::HostByte) {
            if (e.at - last > kMs) {
                starts.push_back(e.at);
            }
            last = e.at;
        }
    }
    ASSERT_GE(starts.size(), 10u);
    // The last ten are the chunks; waitMs(11) sleeps 12 ms in 2 ms steps and
    // the read of the monitor's chatter in between costs nothing.
    for (std::size_t i = starts.size() - 9; i < starts.size(); ++i) {
        EXPECT_EQ(starts[i] - starts[i - 1], 12 * kMs) << "chunk " << i;
    }
}

TEST(BootMonitorDialogueTest, BuildDateAloneCatchesTheMonitor) {
    sim::BootMonitorModel board(WithFaults({"build-date-only"}));
    const RunRecord r = Program(board, Image(300, 5), {});
    EXPECT_EQ(r.result, RunResult::Success);
    EXPECT_EQ(r.board.find("press any key"), std::string::npos);
    EXPECT_EQ(r.board.find("starting application"), std::string::npos);
}

TEST(BootMonitorDialogueTest, ABoardAlreadyRunningGetsOnlySingleSpacesAndFailsAtFiveHundred) {
    // Two lines, then silence: a space after each line and after each empty wait.
    test::ScriptedLineEnd board;
    board.send(1000 * kMs, {'a', 'p', 'p', '\r', '\n'});
    board.send(2000 * kMs, {'o', 'k', '\r', '\n'});
    const RunRecord r = Program(board, Image(100, 6), Image(100, 7));
    EXPECT_EQ(r.result, RunResult::DeviceError);
    EXPECT_EQ(r.host, "    ");
    ASSERT_EQ(board.hostTimes.size(), 4u);
    const VirtualNs expected[] = {1000 * kMs, 2000 * kMs, 7000 * kMs, 12000 * kMs};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_GE(board.hostTimes[i], expected[i]);
        EXPECT_LT(board.hostTimes[i], expected[i] + 30 * kMs);
    }
    EXPECT_EQ(r.positions.back(), 500);
    EXPECT_EQ(r.statuses, std::vector<std::string>{"Power ON"});
}

TEST(BootMonitorDialogueTest, MissingPromptOrDoneCostTimeButNotTheRun) {
    const auto main = Image(321, 8);
    const auto second = Image(99, 9);
    sim::BootMonitorModel good;
    const VirtualNs baseline = Program(good, main, second).elapsed;

    sim::BootMonitorModel noPrompt(WithFaults({"no-prompt"}));
    const RunRecord r1 = Program(noPrompt, main, second);
    EXPECT_EQ(r1.result, RunResult::Success);
    EXPECT_EQ(noPrompt.images().at(0x80000000), main);
    EXPECT_GE(r1.elapsed - baseline, 19900 * kMs) << "four prompt waits of 5 s";
    EXPECT_LT(r1.elapsed - baseline, 20200 * kMs);

    sim::BootMonitorModel noDone(WithFaults({"no-done"}));
    const RunRecord r2 = Program(noDone, main, second);
    EXPECT_EQ(r2.result, RunResult::Success);
    EXPECT_EQ(r2.statuses.back(), "Done");
    EXPECT_EQ(r2.board.find("Done"), std::string::npos);
    EXPECT_GE(r2.elapsed - baseline, 9600 * kMs) << "two more line waits of 5 s";
    EXPECT_LT(r2.elapsed - baseline, 10100 * kMs);
}

TEST(BootMonitorDialogueTest, EveryFailurePointEndsInDeviceErrorWhereItHappens) {
    struct Case {
        const char* fault;
        std::size_t commandsRun;  // the last one is where the dialogue stopped
        std::size_t breaks;
    };
    const Case cases[] = {
        {"running", 0, 0},
        {"mute-load@0x83fa0000", 1, 0},
        {"ignore-break@0x83fa0000", 1, 1},
        {"refuse@0x83fa0000", 1, 1},
        {"mute-nsave", 2, 1},
        {"mute-aboot", 3, 1},
        {"mute-prompt", 4, 1},
        {"mute-load@0x80000000", 5, 1},
        {"ignore-break@0x80000000", 5, 2},
        {"refuse@0x80000000", 5, 2},
    };
    const std::vector<std::string> dialogue = {"load term raw 0x83fa0000", "nsave",
                                               "aboot flash raw 0x83fa0000", "prompt RV4500> 1",
                                               "load term raw 0x80000000"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        sim::BootMonitorModel board(WithFaults({c.fault}));
        const RunRecord r = Program(board, Image(150, 10), Image(150, 11));
        EXPECT_EQ(r.result, RunResult::DeviceError);
        EXPECT_EQ(board.commands(),
                  std::vector<std::string>(dialogue.begin(), dialogue.begin() + c.commandsRun));
        EXPECT_EQ(Breaks(r).size(), c.breaks);
        EXPECT_EQ(r.host.find("exec"), std::string::npos);
        EXPECT_NE(r.statuses.back(), "Done");
        EXPECT_FALSE(board.started());
    }
}

TEST(BootMonitorDialogueTest, ARefusedTransferFailsThoughALaterLineSaysSuccessfully) {
    sim::BootMonitorModel board(WithFaults({"refuse"}));
    const RunRecord r = Program(board, Image(150, 12), {});
    EXPECT_EQ(r.result, RunResult::DeviceError);
    EXPECT_NE(r.board.find("Error: raw load aborted after 150 bytes\r\n"
                           "Load buffer released successfully\r\n"),
              std::string::npos);
    EXPECT_TRUE(board.images().empty());
}

}  // namespace
}  // namespace korvel
