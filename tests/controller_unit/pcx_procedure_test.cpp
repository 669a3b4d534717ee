#include "procedures/controller_unit/pcx_procedure.h"

#include <gtest/gtest.h>

#include "sim/pcx_board.h"
#include "tests/support/line_tap.h"

namespace korvel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::PcxBoard;
constexpr VirtualNs kMs = 1'000'000;

enum Cmd : std::uint8_t {
    kBegin = 0x0A,
    kPing = 0x10,
    kInfo = 0x11,
    kBaud = 0x18,
    kErase = 0x20,
    kWrite = 0x21,
    kLeave = 0x22,
    kReboot = 0x63,
};

// A progress report as the window would see it: M max, P position, S step.
struct Report {
    char kind;
    int value;
    bool operator==(const Report&) const = default;
};
void PrintTo(const Report& r, std::ostream* os) {
    *os << r.kind << r.value;
}

Bytes Image(std::size_t size) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    }
    return image;
}

// The procedure against the PCX board model on a virtual line.
class PcxProcedureTest : public ::testing::Test {
  protected:
    int run(const Bytes& image, sim::PcxBoardFaults faults = {}, PcxOptions options = {},
            const std::string& version = "1.00") {
        proc.reset();
        board = std::make_unique<PcxBoard>(std::move(faults));
        tap = std::make_unique<test::LineTap>(*board);
        auto device = std::make_unique<VirtualSerialDevice>(*tap);
        dev = device.get();
        proc = std::make_unique<PcxProcedure>(std::move(device));
        proc->onStatus = [this](const std::string& text) { statuses.push_back(text); };
        proc->onProgressMax = [this](int v) { reports.push_back({'M', v}); };
        proc->onProgressPosition = [this](int v) { reports.push_back({'P', v}); };
        proc->onProgressStep = [this](int v) { reports.push_back({'S', v}); };
        tap->afterHostByte = [this](VirtualNs at) {
            if (duringRun) {
                duringRun(at);
            }
        };
        EXPECT_TRUE(proc->link.port().open());
        proc->Prepare();
        // Bytes past the image must never reach the unit.
        Bytes buffer = image;
        buffer.insert(buffer.end(), 2048, 0xAB);
        return proc->Run(std::span(buffer).first(image.size()), version, options);
    }

    std::vector<std::uint8_t> commands() const {
        std::vector<std::uint8_t> out;
        for (const auto& r : board->requests()) {
            out.push_back(r.command);
        }
        return out;
    }
    Bytes flashFrom(std::uint32_t address, std::size_t size) const {
        return Bytes(board->flash().begin() + address, board->flash().begin() + address + size);
    }
    double ms(VirtualNs ns) const { return static_cast<double>(ns) / kMs; }

    std::unique_ptr<PcxBoard> board;
    std::unique_ptr<test::LineTap> tap;
    VirtualSerialDevice* dev = nullptr;
    std::unique_ptr<PcxProcedure> proc;
    std::vector<std::string> statuses;
    std::vector<Report> reports;
    std::function<void(VirtualNs)> duringRun;
};

const std::vector<std::string> kProgrammed = {"Connecting", "Connected",   "Read Info",
                                              "Erase",      "Programming", "Reboot"};

TEST_F(PcxProcedureTest, SmallImageIsErasedWrittenInTwoBlocksAndTheUnitRestarted) {
    const Bytes image = Image(1500);
    EXPECT_EQ(run(image), 4);
    EXPECT_EQ(commands(),
              (Bytes{kPing, kInfo, kBegin, kBaud, kPing, kErase, kWrite, kWrite, kReboot}));
    EXPECT_EQ(board->arguments(kBaud), std::vector<std::uint32_t>{57600});
    EXPECT_EQ(board->arguments(kErase), std::vector<std::uint32_t>{0});
    EXPECT_EQ(board->arguments(kWrite), (std::vector<std::uint32_t>{32768, 0x8400}));
    EXPECT_EQ(statuses, kProgrammed);
    EXPECT_EQ(reports, (std::vector<Report>{{'P', 0},
                                            {'P', 0},
                                            {'M', 1},
                                            {'S', 1},
                                            {'P', 0},
                                            {'M', 1500},
                                            {'P', 0},
                                            {'P', 1024},
                                            {'P', 1500}}));
    EXPECT_EQ(flashFrom(32768, 1500), image);
    // The tail of the last block is the erased value, not what lies past the image.
    EXPECT_EQ(flashFrom(32768 + 1500, 548), Bytes(548, 0xFF));
    // Loader and unit data untouched.
    const PcxBoard fresh;
    EXPECT_TRUE(
        std::equal(fresh.flash().begin(), fresh.flash().begin() + 32768, board->flash().begin()));
    EXPECT_TRUE(std::equal(fresh.flash().begin() + 0x7D000, fresh.flash().end(),
                           board->flash().begin() + 0x7D000));
}

TEST_F(PcxProcedureTest, RefusedEraseAllFallsBackToSectorsFromTheLastDown) {
    sim::PcxBoardFaults faults;
    faults.refuseEraseAll = true;
    const Bytes image = Image(40000);
    EXPECT_EQ(run(image, faults), 4);
    EXPECT_EQ(board->arguments(kErase), (std::vector<std::uint32_t>{0, 65536, 32768}));
    EXPECT_EQ(std::vector<Report>(reports.begin() + 1, reports.begin() + 5),
              (std::vector<Report>{{'P', 0}, {'M', 2}, {'S', 1}, {'S', 1}}));
    EXPECT_EQ(board->count(kWrite), 40);
    EXPECT_EQ(flashFrom(32768, 40000), image);
    EXPECT_EQ(statuses, kProgrammed);
}

TEST_F(PcxProcedureTest, BlankKilobytesAreSkippedButProgressPassesThem) {
    Bytes image = Image(3072);
    std::fill(image.begin() + 1024, image.begin() + 2048, 0xFF);
    EXPECT_EQ(run(image), 4);
    EXPECT_EQ(board->arguments(kWrite), (std::vector<std::uint32_t>{32768, 0x8800}));
    const std::vector<Report> program(reports.end() - 4, reports.end());
    EXPECT_EQ(program, (std::vector<Report>{{'P', 0}, {'P', 1024}, {'P', 2048}, {'P', 3072}}));
    EXPECT_EQ(flashFrom(32768, 3072), image);
}

TEST_F(PcxProcedureTest, RefusedWriteEndsWithCodeFiveAndOneShortReboot) {
    sim::PcxBoardFaults faults;
    faults.refuseWriteAt = 32768 + 3072;
    EXPECT_EQ(run(Image(5000), faults), 5);
    EXPECT_EQ(board->arguments(kWrite), (std::vector<std::uint32_t>{32768, 33792, 34816, 35840}));
    EXPECT_EQ(commands().back(), kReboot);
    EXPECT_EQ(board->count(kReboot), 1);
    EXPECT_EQ(statuses.back(), "Reboot");
    EXPECT_EQ(reports.back(), (Report{'P', 3072}));
    EXPECT_EQ(proc->link.replyTimeoutMs(), 3500u);
    EXPECT_EQ(proc->link.attemptsOnTimeout(), 3);
}

TEST_F(PcxProcedureTest, ImageBeyondTheProgrammableRangeIsLeftToTheUnit) {
    const std::size_t range = 0x7D000 - 32768;
    EXPECT_EQ(run(Image(range + 1024)), 5);
    EXPECT_EQ(reports[2], (Report{'M', 19}));
    EXPECT_EQ(board->arguments(kWrite).back(), 0x7D000u);
    EXPECT_EQ(board->requests()[board->requests().size() - 2].status, PcxBoard::kBadAddress);
}

TEST_F(PcxProcedureTest, UnitThatNeverAnswersGetsHundredPingsThenOneShortReboot) {
    sim::PcxBoardFaults faults;
    faults.silent = true;
    EXPECT_EQ(run(Image(100), faults), 0);
    EXPECT_EQ(board->count(kPing), 100);
    EXPECT_EQ(commands().back(), kReboot);
    EXPECT_EQ(board->count(kReboot), 1);
    EXPECT_EQ(statuses, (std::vector<std::string>{"Connecting", "Reboot"}));
    // About 100 ms per ping, then 200 ms for the Reboot's reply.
    EXPECT_GE(ms(dev->now()), 100 * 100 + 200);
    EXPECT_LT(ms(dev->now()), 100 * 106 + 210);
}

TEST_F(PcxProcedureTest, ConnectionSurvivesLateAndBusyAnswers) {
    sim::PcxBoardFaults late;
    late.ignoredPings = 3;
    EXPECT_EQ(run(Image(100), late), 4);
    EXPECT_EQ(board->count(kPing), 5) << "four to connect, one after the speed change";

    sim::PcxBoardFaults busy;
    busy.busyOnce = true;
    EXPECT_EQ(run(Image(100), busy), 4);
    EXPECT_EQ(board->count(kPing), 3);
}

TEST_F(PcxProcedureTest, AnotherLoaderIdentifierIsCodeSix) {
    for (const char* id : {"bootplm300", "BOOTPLM200"}) {
        SCOPED_TRACE(id);
        sim::PcxBoardFaults faults;
        faults.loaderId = id;
        statuses.clear();
        EXPECT_EQ(run(Image(100), faults), 6);
        EXPECT_EQ(commands(), (Bytes{kPing, kInfo, kReboot}));
        EXPECT_EQ(statuses,
                  (std::vector<std::string>{"Connecting", "Connected", "Read Info", "Reboot"}));
    }
}

TEST_F(PcxProcedureTest, ProgrammingSpeedIsNegotiatedAndCapped) {
    PcxOptions slow;
    slow.flashBaudRate = 19200;
    EXPECT_EQ(run(Image(3000), {}, slow), 4);
    EXPECT_EQ(board->arguments(kBaud), std::vector<std::uint32_t>{19200});
    for (const auto& r : board->requests()) {
        if (r.command == kWrite || r.command == kErase) {
            EXPECT_EQ(r.hostBaudRate, 19200);
        }
    }
    PcxOptions fast;
    fast.flashBaudRate = 115200;
    EXPECT_EQ(run(Image(3000), {}, fast), 4);
    EXPECT_EQ(board->arguments(kBaud), std::vector<std::uint32_t>{57600});
}

TEST_F(PcxProcedureTest, OptionsCanEndTheRunAfterIdentification) {
    PcxOptions check;
    check.checkVersion = true;
    EXPECT_EQ(run(Image(100), {}, check, " V2.10"), 3);
    EXPECT_EQ(commands(), (Bytes{kPing, kInfo, kLeave}));
    EXPECT_EQ(run(Image(100), {}, check, "V2.11"), 4);
    EXPECT_EQ(board->count(kInfo), 2);

    PcxOptions identifyOnly;
    identifyOnly.writeMcuFlash = false;
    EXPECT_EQ(run(Image(100), {}, identifyOnly), 2);
    EXPECT_EQ(commands(), (Bytes{kPing, kInfo, kLeave}));

    PcxOptions noBoot;
    noBoot.connectToBoot = false;
    EXPECT_EQ(run(Image(100), {}, noBoot), 0);
    EXPECT_EQ(board->count(kPing), 0);
}

TEST_F(PcxProcedureTest, StopDuringProgrammingEndsAtOnceWithoutReboot) {
    VirtualNs stoppedAt = 0;
    duringRun = [&](VirtualNs) {
        if (stoppedAt == 0 && board->count(kWrite) == 2) {
            stoppedAt = dev->now();
            proc->Abort();
        }
    };
    EXPECT_EQ(run(Image(10000)), 7);
    EXPECT_EQ(board->count(kReboot), 0);
    EXPECT_EQ(board->count(kWrite), 2);
    EXPECT_EQ(statuses.back(), "Programming");
    EXPECT_EQ(reports.back(), (Report{'P', 1024})) << "no progress after the stop";
    EXPECT_LT(ms(dev->now() - stoppedAt), 10.0) << "the reply wait gave up at once";
}

TEST_F(PcxProcedureTest, UnitSilentOnTheFinalRebootStillEndsProgrammed) {
    sim::PcxBoardFaults faults;
    faults.noRebootReply = true;
    VirtualNs rebootAt = 0;
    duringRun = [&](VirtualNs at) {
        if (rebootAt == 0 && board->count(kReboot) == 1) {
            rebootAt = at;
        }
    };
    EXPECT_EQ(run(Image(1500), faults), 4);
    EXPECT_EQ(board->count(kReboot), 3);
    // Three attempts of 3500 ms, then the 1000 ms pause.
    EXPECT_GT(ms(dev->now() - rebootAt), 3 * 3500 + 1000 - 5);
    EXPECT_LT(ms(dev->now() - rebootAt), 3 * 3500 + 1000 + 30);
    EXPECT_EQ(statuses, kProgrammed);
}

}  // namespace
}  // namespace korvel
