#include "jobs/gang_run.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cctype>
#include <memory>
#include <optional>
#include <thread>
#include <variant>

#include "jobs/exit_codes.h"
#include "jobs/queued_handover.h"
#include "package/sha256.h"
#include "procedures/package_kinds.h"
#include "procedures/run_preparation.h"
#include "serial/port_resolver.h"
#include "serial/serial_port.h"
#include "serial/virtual_serial_device.h"
#include "sim/lpc_board.h"
#include "sim/lpc_hex_writer.h"
#include "sim/lpc_parts.h"
#include "sim/package_writer.h"
#include "tests/support/dead_line_end.h"
#include "tests/support/recording_targets.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

using sim::LpcBoard;

constexpr std::size_t kBoards = 10;
constexpr int kFirstPort = 71;

// Bytes that differ from line to line, so that a misplaced line shows.
std::vector<std::uint8_t> Image(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    }
    return bytes;
}

// Ten boards on ports 71..80 of the resolver, each reporting into its own
// recording targets; the test's thread serves the hand-overs as a window
// would, until every run has ended.
struct Station {
    std::array<test::RecordingBar, kBoards> bars;
    std::array<test::RecordingStatus, kBoards> panels;
    std::vector<std::optional<RunRecord>> records{kBoards};
    int finishedCalls = 0;

    ~Station() {
        for (std::size_t i = 0; i < kBoards; ++i) {
            PortResolver::instance().unregisterDevice(kFirstPort + static_cast<int>(i));
        }
    }

    std::vector<Outcome> outcomes{kBoards};

    static std::vector<RunPort> Ports() {
        std::vector<RunPort> ports;
        for (std::size_t i = 0; i < kBoards; ++i) {
            ports.push_back({"board" + std::to_string(i), kFirstPort + static_cast<int>(i), "",
                             "id" + std::to_string(i)});
        }
        return ports;
    }

    std::vector<GangBoard> Boards() {
        std::vector<GangBoard> boards;
        for (std::size_t i = 0; i < kBoards; ++i) {
            boards.push_back({&bars[i], &panels[i], nullptr});
        }
        return boards;
    }

    void Run(GangRun& gang, QueuedHandover& handover, RunRequest request,
             const std::function<void()>& whileRunning = {}) {
        gang.OnBoardFinished = [this](std::size_t i, const RunRecord& record,
                                      const Outcome& outcome) {
            ++finishedCalls;
            records.at(i) = record;
            outcomes.at(i) = outcome;
        };
        if (request.ports.empty()) {
            request.ports = Ports();
        }
        gang.Start(request, Boards());
        while (!gang.Finished()) {
            handover.Serve(std::chrono::milliseconds(5));
            if (whileRunning) {
                whileRunning();
            }
        }
    }
};

// Each board also gets its own serial number, written at 0x100 of its copy
// of the image: consecutive in port order from the counter file, which is
// advanced before any board starts; a board that failed has spent its number.
TEST(GangRunTest, TenLpcBoardsAtOnceEachEndAsTheirOwnBoardSays) {
    const std::vector<sim::HexSegment> image = {{0, Image(3000)}};
    const std::string hex = sim::WriteIntelHex(image);
    test::TempDir dir;
    const std::string file =
        dir.write("fw.pr2", sim::BuildPackage({{"LPC2138", "2.5", 'F', {hex.begin(), hex.end()}}}));
    TFilePro package;
    ASSERT_TRUE(package.LoadFromFile(file));
    const std::string counter = dir.write("serial.txt", std::string("1000\n"));
    RunChoices choices;
    choices.ports = Station::Ports();
    choices.baudRate = 38400;
    choices.verify = VerifyMode::Compare;
    choices.serial = SerialChoice{{0x100, SerialFormat::U32Le, 4}, counter};
    const auto prepared = PrepareRun(package, choices, nullptr, [](bool) {});
    ASSERT_TRUE(std::holds_alternative<RunRequest>(prepared));
    EXPECT_EQ(dir.read("serial.txt"), "1010\n");

    const sim::LpcPart& part = *sim::FindLpcPart("LPC2138");
    constexpr std::size_t kRefusing = 3;
    constexpr std::size_t kMissing = 7;
    std::vector<std::unique_ptr<LpcBoard>> models;
    Station station;
    for (std::size_t i = 0; i < kBoards; ++i) {
        LpcBoard::Options options;
        if (i == kRefusing) {
            options.faults = {sim::LpcFault::RefuseErase};
        }
        models.push_back(std::make_unique<LpcBoard>(part, options));
        VirtualSerialDevice::Options line;
        if (i == kMissing) {
            line.openFailure = OpenFailure{2, "No such file or directory", false};
        }
        LpcBoard& model = *models.back();
        PortResolver::instance().registerDevice(kFirstPort + static_cast<int>(i), [&model, line] {
            return std::make_unique<VirtualSerialDevice>(model, line);
        });
    }
    {
        QueuedHandover handover;
        GangRun gang(handover, StandardDrivers());
        station.Run(gang, handover, std::get<RunRequest>(prepared));
    }

    EXPECT_EQ(station.finishedCalls, static_cast<int>(kBoards));
    for (std::size_t i = 0; i < kBoards; ++i) {
        SCOPED_TRACE("board " + std::to_string(i));
        ASSERT_TRUE(station.records[i]);
        const RunRecord& record = *station.records[i];
        const RunResult expected = i == kRefusing  ? RunResult::ProgrammingError
                                   : i == kMissing ? RunResult::PortNotOpened
                                                   : RunResult::Success;
        EXPECT_EQ(record.result, expected);
        EXPECT_EQ(record.port, "board" + std::to_string(i));
        EXPECT_EQ(record.boardId, "id" + std::to_string(i));
        EXPECT_EQ(record.packagePath, file);
        EXPECT_EQ(record.packageSha256, package.sha256());
        EXPECT_EQ(record.serial, 1000u + i);
        EXPECT_EQ(record.imageSha256.size(), 64u);
        EXPECT_NE(record.imageSha256, std::get<RunRequest>(prepared).imageSha256);
        EXPECT_EQ(record.kind, 'F');
        EXPECT_EQ(record.entryName, "LPC2138");
        EXPECT_EQ(record.entryVersion, "2.5");
        // Verify was asked for: only a board whose flash the chip compared
        // says so; one whose port never opened did no check at all.
        EXPECT_EQ(record.verify, i == kMissing ? VerifyMode::None : VerifyMode::Compare);
        EXPECT_EQ(record.verified, expected == RunResult::Success);
        EXPECT_GT(record.durationSeconds, 0.0);
        // The record's message is the outcome's reason, the status the last
        // status text.
        EXPECT_EQ(record.message, station.outcomes[i].reason);
        if (i == kMissing) {
            EXPECT_EQ(record.chip, "");
            EXPECT_EQ(record.message.rfind("virtual: No such file or directory", 0), 0u)
                << record.message;
            EXPECT_EQ(models[i]->commands().size(), 0u);
            continue;
        }
        EXPECT_EQ(record.chip, "LPC2138 (500k)");
        EXPECT_EQ(record.partId, std::to_string(part.partId));
        EXPECT_EQ(record.partIdHex, "0x0002FF25");
        EXPECT_EQ(record.bootCode, "2.12");
        EXPECT_EQ(record.status, station.panels[i].texts.back());
        if (i != kRefusing) {
            EXPECT_EQ(record.message, "");
            // 1000 + i = 0x03E8 + i, least significant byte first.
            std::vector<sim::HexSegment> numbered = image;
            const std::uint8_t serial[] = {static_cast<std::uint8_t>(0xE8 + i), 0x03, 0x00, 0x00};
            std::copy(std::begin(serial), std::end(serial), numbered[0].bytes.begin() + 0x100);
            EXPECT_EQ(models[i]->flash(), sim::ExpectedLpcFlash(numbered, part.flashBytes()));
            EXPECT_GT(station.bars[i].pos, 0) << "progress reaches the board's own bar";
        }
    }
}

// A procedure that runs until it is asked to stop.
struct WaitingProcedure : ProcContext {
    explicit WaitingProcedure(int port) : port(port, 115200, 0x11) {}
    SerialPort port;
};

std::atomic<int> waiting{0};
std::atomic<int> resetWired{0};

Outcome RunUntilStopped(GenericThread& thread) {
    if (thread.resetLines().driven) {
        ++resetWired;
    }
    WaitingProcedure proc(thread.portNumber());
    return proc.Conclude(thread.Drive(
        proc, proc.port, [&] { proc.RequestAbort(); },
        [&] {
            ++waiting;
            while (!proc.abortRequested) {
                proc.port.waitMs(1);
            }
            return RunResult::Aborted;
        }));
}

TEST(GangRunTest, StopReachesEveryRunAndEachEndsAborted) {
    constexpr std::array kDrivers{DriverEntry{'F', "waits", RunUntilStopped}};
    test::TempDir dir;
    const std::string file = dir.write("fw.pr2", sim::BuildPackage({{"X", "1", 'F', {1, 2, 3}}}));
    TFilePro package;
    ASSERT_TRUE(package.LoadFromFile(file));

    std::array<test::DeadLineEnd, kBoards> lines;
    Station station;
    for (std::size_t i = 0; i < kBoards; ++i) {
        PortResolver::instance().registerDevice(
            kFirstPort + static_cast<int>(i),
            [&line = lines[i]] { return std::make_unique<VirtualSerialDevice>(line); });
    }
    waiting = 0;
    resetWired = 0;
    {
        QueuedHandover handover;
        GangRun gang(handover, kDrivers);
        bool stopped = false;
        // Every run is told how its board's reset is wired.
        const RunRequest wired{
            &package, file, "", 'F', {}, 38400, ResetLines{.driven = true}, VerifyMode::None};
        station.Run(gang, handover, wired, [&] {
            if (!stopped && waiting == static_cast<int>(kBoards)) {
                stopped = true;
                gang.Stop();
            }
        });
    }
    EXPECT_EQ(station.finishedCalls, static_cast<int>(kBoards));
    EXPECT_EQ(resetWired, static_cast<int>(kBoards));
    for (const auto& record : station.records) {
        ASSERT_TRUE(record);
        EXPECT_EQ(record->result, RunResult::Aborted);
        EXPECT_EQ(record->message, "Stopped on request before the run ended");
    }
}

}  // namespace
}  // namespace korvel

namespace korvel {
namespace {

// The image each run was handed, as the board would get it.
std::vector<std::vector<std::uint8_t>> handedImages;

Outcome RunTakingTheImage(GenericThread& thread) {
    handedImages.emplace_back(thread.entryImage(0).begin(), thread.package().entryImage(0).end());
    WaitingProcedure proc(thread.portNumber());
    return proc.Conclude(RunResult::Success);
}

// The record proves which bytes went onto the board: its hash is of the
// package as the run was handed it, whenever the file changes on disk.
TEST(GangRunTest, TheRecordsHashIsOfTheBytesTheRunWasHanded) {
    // A kind whose image any bytes make: the test's images are no HEX texts.
    constexpr std::array kDrivers{DriverEntry{'G', "takes the image", RunTakingTheImage}};
    const std::vector<std::uint8_t> oldImage{1, 2, 3};
    const std::vector<std::uint8_t> newImage{9, 8, 7, 6};
    const std::vector<std::uint8_t> oldBytes = sim::BuildPackage({{"X", "1", 'G', oldImage}});
    const std::vector<std::uint8_t> newBytes = sim::BuildPackage({{"X", "2", 'G', newImage}});
    auto hash = [](const std::vector<std::uint8_t>& bytes) { return Sha256Hex(bytes); };
    struct Case {
        const char* name;
        bool rewrittenBeforeTheRequest;  // else after it, while the run starts
        std::vector<std::uint8_t> programmed;
        std::string sha256;
    };
    const Case cases[] = {
        {"rewritten before the run is prepared: loaded again", true, newImage, hash(newBytes)},
        {"rewritten once the run was handed the package", false, oldImage, hash(oldBytes)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string file = dir.write("fw.pr2", oldBytes);
        TFilePro package;
        ASSERT_TRUE(package.LoadFromFile(file));
        // The rewrite must show as a change, also on a coarse file clock.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        // Where the system keeps writers out of a loaded package (Windows)
        // the file stays as it was, and so do the bytes programmed.
        bool rewritten = false;
        auto rewrite = [&] {
            dir.write("fw.pr2", newBytes);
            rewritten = dir.read("fw.pr2") == std::string(newBytes.begin(), newBytes.end());
        };
        if (c.rewrittenBeforeTheRequest) {
            rewrite();
        }
        RunChoices choices;
        choices.ports = {{"board0", kFirstPort, ""}};
        choices.baudRate = 38400;
        const auto prepared = PrepareRun(package, choices, nullptr, [](bool) {});
        ASSERT_TRUE(std::holds_alternative<RunRequest>(prepared));
        const RunRequest& request = std::get<RunRequest>(prepared);
        std::optional<RunRecord> record;
        handedImages.clear();
        {
            QueuedHandover handover;
            GangRun gang(handover, kDrivers);
            gang.OnBoardFinished = [&](std::size_t, const RunRecord& r, const Outcome&) {
                record = r;
            };
            test::RecordingBar bar;
            test::RecordingStatus panel;
            gang.startThread = [&](GenericThread& thread) {
                if (!c.rewrittenBeforeTheRequest) {
                    rewrite();
                }
                thread.Start();
            };
            gang.Start(request, {{&bar, &panel, nullptr}});
            while (!gang.Finished()) {
                handover.Serve(std::chrono::milliseconds(5));
            }
        }
        ASSERT_TRUE(record);
        ASSERT_EQ(handedImages.size(), 1u);
        const bool asWritten = rewritten || !c.rewrittenBeforeTheRequest;
        EXPECT_EQ(handedImages[0], asWritten ? c.programmed : oldImage);
        EXPECT_EQ(record->packageSha256, asWritten ? c.sha256 : hash(oldBytes));
    }
}

// A station pinned to one package refuses another before anything is asked
// or any board is reached; the pin is checked on the package as it is on
// disk when the run starts.
TEST(GangRunTest, APinnedPackageIsTheOnlyOneARunIsPreparedFor) {
    const std::vector<std::uint8_t> bytes = sim::BuildPackage({{"X", "1", 'G', {1, 2, 3}}});
    const std::string pinned = Sha256Hex(bytes);
    std::string upper = pinned;
    for (char& ch : upper) {
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    const std::string other(64, 'a');
    struct Case {
        std::string pin;
        int exitCode;  // 0: prepared
        std::vector<std::string> said;
    };
    const Case cases[] = {
        {"", 0, {}},
        {pinned, 0, {}},
        {upper, 0, {}},
        {other, kExitBadPackage, {"not the pinned one", pinned, other}},
        {pinned.substr(1), kExitUsage, {"korvel.ini: [KORVEL] ExpectSha256", "64 hex"}},
        {pinned.substr(1) + "g", kExitUsage, {"ExpectSha256"}},
    };
    test::TempDir dir;
    const std::string file = dir.write("fw.pr2", bytes);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pin);
        TFilePro package;
        ASSERT_TRUE(package.LoadFromFile(file));
        RunChoices choices;
        choices.ports = {{"board0", kFirstPort, ""}};
        choices.settingsFile = "korvel.ini";
        choices.expectSha256 = c.pin;
        const auto prepared = PrepareRun(package, choices, nullptr, [](bool) {});
        if (c.exitCode == 0) {
            ASSERT_TRUE(std::holds_alternative<RunRequest>(prepared));
            EXPECT_EQ(std::get<RunRequest>(prepared).packageSha256, pinned);
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<RunRefusal>(prepared));
        const RunRefusal& refusal = std::get<RunRefusal>(prepared);
        EXPECT_EQ(refusal.exitCode, c.exitCode);
        for (const std::string& part : c.said) {
            EXPECT_NE(refusal.message.find(part), std::string::npos) << refusal.message;
        }
    }
}

// Serial numbers are refused before any board is reached, and spend no
// number, unless every one can be written where it is asked; the board ids
// give them when no counter does.
TEST(GangRunTest, SerialNumbersGoOnlyWhereTheImageHasData) {
    const std::string hex = sim::WriteIntelHex({{0, Image(200)}});
    const std::vector<std::uint8_t> lpc =
        sim::BuildPackage({{"LPC2138", "1", 'F', {hex.begin(), hex.end()}}});
    const std::vector<std::uint8_t> unit =
        sim::BuildPackage({{"X", "1", 'G', {1, 2, 3, 4, 5, 6, 7, 8}}});
    const std::vector<std::uint8_t> none = sim::BuildPackage({{"X", "1", '0', {1, 2, 3}}});
    struct Case {
        const char* name;
        const std::vector<std::uint8_t>& package;
        std::string place;
        std::string counter;  // the counter file's text; empty: no file
        bool fromBoardIds;
        int exitCode;  // 0: prepared
        std::string said;
        std::vector<std::uint8_t> board1;  // entry 0 of the second board, when prepared
    };
    const Case cases[] = {
        {"in the vectors", lpc, "0x1C:u32le", "7\n", false, kExitUsage, "first 64 bytes", {}},
        {"past the data", lpc, "198:u32be", "7\n", false, kExitUsage, "not all inside", {}},
        {"past the image", unit, "5:u32le", "7\n", false, kExitUsage, "beyond the image's 8", {}},
        {"a kind without a procedure", none, "0:u32le", "7\n", false, kExitUsage, "take no", {}},
        {"no counter file", unit, "0:u32le", "", false, kExitRecordFailed, "create it", {}},
        {"no number in it", unit, "0:u32le", "x1\n", false, kExitRecordFailed, "'x1", {}},
        {"past the format", unit, "0:ascii:1", "9\n", false, kExitRecordFailed, "past 9", {}},
        {"an id that is no number", unit, "0:u32le", "7\n", true, kExitUsage, "'A-0'", {}},
        {"from the counter",
         unit,
         "2:ascii:4",
         "41\n",
         false,
         0,
         "",
         {1, 2, '0', '0', '4', '2', 7, 8}},
        {"u32be from the counter",
         unit,
         "1:u32be",
         "258\n",
         false,
         0,
         "",
         {1, 0, 0, 1, 3, 6, 7, 8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string file = dir.write("fw.pr2", c.package);
        const std::string counter = c.counter.empty() ? dir.path("serial.txt").string()
                                                      : dir.write("serial.txt", c.counter);
        TFilePro package;
        ASSERT_TRUE(package.LoadFromFile(file));
        RunChoices choices;
        choices.ports = {{"board0", kFirstPort, "", "A-0"}, {"board1", kFirstPort + 1, "", "B"}};
        std::string error;
        choices.serial = SerialChoice{*ParseSerialPlace(c.place, error),
                                      c.fromBoardIds ? std::string() : counter};
        const auto prepared = PrepareRun(package, choices, nullptr, [](bool) {});
        if (c.exitCode != 0) {
            ASSERT_TRUE(std::holds_alternative<RunRefusal>(prepared));
            const RunRefusal& refusal = std::get<RunRefusal>(prepared);
            EXPECT_EQ(refusal.exitCode, c.exitCode);
            EXPECT_NE(refusal.message.find(c.said), std::string::npos) << refusal.message;
            if (!c.counter.empty()) {
                EXPECT_EQ(dir.read("serial.txt"), c.counter) << "a refused run spent a number";
            }
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<RunRequest>(prepared));
        const RunPort& board1 = std::get<RunRequest>(prepared).ports.at(1);
        ASSERT_TRUE(board1.image);
        std::vector<std::uint8_t> expected = c.board1;
        // The package's two trailer bytes follow the data.
        const auto trailer = package.entryImageWithTrailer(0).last(2);
        expected.insert(expected.end(), trailer.begin(), trailer.end());
        EXPECT_EQ(*board1.image, expected);
        EXPECT_EQ(board1.imageSha256, Sha256Hex(c.board1));
        EXPECT_EQ(dir.read("serial.txt"), std::to_string(std::stoi(c.counter) + 2) + "\n");
    }
}

}  // namespace
}  // namespace korvel
