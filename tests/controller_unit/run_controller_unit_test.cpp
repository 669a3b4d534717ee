#include "procedures/controller_unit/run_controller_unit.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "jobs/queued_handover.h"
#include "procedures/package_kinds.h"
#include "serial/port_resolver.h"
#include "sim/package_writer.h"
#include "sim/pcx_board.h"
#include "tests/support/line_tap.h"
#include "tests/support/recording_targets.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

constexpr int kPort = 57;
constexpr std::uint8_t kWrite = 0x21;
constexpr std::uint8_t kReboot = 0x63;

// A kind "G" package run through the standard drivers against the board on
// a virtual line registered for the port.
class RunControllerUnitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PortResolver::instance().registerDevice(kPort, [this] {
            auto device = std::make_unique<VirtualSerialDevice>(tap);
            dev = device.get();
            return device;
        });
        tap.afterHostByte = [this](VirtualNs) {
            if (duringRun) {
                duringRun();
            }
        };
    }
    void TearDown() override { PortResolver::instance().clear(); }

    RunResult run(const std::vector<std::uint8_t>& image) {
        const auto file = dir.write("unit.pr2", sim::BuildPackage({{"PCX", "2.11", 'G', image}}));
        EXPECT_TRUE(package.LoadFromFile(file));
        std::optional<RunResult> result;
        GenericThread thread(handover, nullptr, StandardDrivers());
        thread.OnFinished = [&](const Outcome& o) { result = o.result; };
        thread.Setup(package, &bar, 38400, &panel, kPort);
        running = &thread;
        thread.Start();
        while (!result) {
            handover.Serve(std::chrono::milliseconds(5));
        }
        running = nullptr;
        return *result;
    }

    sim::PcxBoard board;
    test::LineTap tap{board};
    VirtualSerialDevice* dev = nullptr;
    std::function<void()> duringRun;
    GenericThread* running = nullptr;
    test::TempDir dir;
    TFilePro package;
    QueuedHandover handover;
    test::RecordingBar bar;
    test::RecordingStatus panel;
};

std::vector<std::uint8_t> Image(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<std::uint8_t>(i % 253);
    }
    return image;
}

TEST_F(RunControllerUnitTest, KindGProgramsTheUnitThroughTheStandardDrivers) {
    const auto image = Image(5000);
    EXPECT_EQ(run(image), RunResult::Success);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), board.flash().begin() + 32768));
    EXPECT_EQ(bar.maximum, 5000);
    EXPECT_EQ(bar.pos, 5000);
    EXPECT_EQ(panel.texts.back(), "Reboot");
}

TEST_F(RunControllerUnitTest, StopReachesTheProcedureThroughAbort) {
    duringRun = [this] {
        if (board.count(kWrite) == 2) {
            running->Stop();
        }
    };
    EXPECT_EQ(run(Image(8000)), RunResult::Aborted);
    EXPECT_EQ(board.count(kWrite), 2);
    EXPECT_EQ(board.count(kReboot), 0);
}

TEST_F(RunControllerUnitTest, VanishedAdapterIsAProgrammingError) {
    duringRun = [this] {
        if (board.count(kWrite) == 1) {
            dev->failFromNowOn(EIO);
        }
    };
    EXPECT_EQ(run(Image(8000)), RunResult::ProgrammingError);
}

TEST(PcxRunResultTest, CodesMapToRunResults) {
    const RunResult expected[] = {
        RunResult::ProgrammingError, RunResult::ProgrammingError, RunResult::Success,
        RunResult::Success,          RunResult::Success,          RunResult::ProgrammingError,
        RunResult::ProgrammingError, RunResult::Aborted,          RunResult::ProgrammingError,
    };
    for (int code = 0; code < 9; ++code) {
        EXPECT_EQ(PcxRunResult(code), expected[code]) << code;
    }
}

}  // namespace
}  // namespace korvel
