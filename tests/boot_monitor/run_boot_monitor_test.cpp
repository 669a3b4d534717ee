#include "procedures/boot_monitor/run_boot_monitor.h"

#include <gtest/gtest.h>

#include "jobs/queued_handover.h"
#include "procedures/package_kinds.h"
#include "serial/port_resolver.h"
#include "serial/virtual_serial_device.h"
#include "sim/boot_monitor_model.h"
#include "sim/package_writer.h"
#include "tests/support/recording_targets.h"
#include "tests/support/temp_dir.h"

// Kind "9" through the worker thread: the driver hands entry 0 and entry 1 to
// the procedure, and Stop cannot reach it.
namespace korvel {
namespace {

constexpr int kPort = 47;

struct StoppingStatus : test::RecordingStatus {
    void setText(const std::string& t) override {
        RecordingStatus::setText(t);
        if (thread != nullptr) {
            thread->Stop();  // the user presses Stop at every status change
        }
    }
    GenericThread* thread = nullptr;
};

class RunBootMonitorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PortResolver::instance().registerDevice(
            kPort, [this] { return std::make_unique<VirtualSerialDevice>(board); });
    }
    void TearDown() override { PortResolver::instance().clear(); }

    RunResult run(const std::vector<sim::PackageEntry>& entries) {
        const auto file = dir.write("monitor.pr2", sim::BuildPackage(entries));
        EXPECT_TRUE(package.LoadFromFile(file));
        std::optional<RunResult> result;
        GenericThread thread(handover, nullptr, StandardDrivers());
        status.thread = &thread;
        thread.OnFinished = [&](const Outcome& o) { result = o.result; };
        thread.Setup(package, &bar, 38400, &status, kPort);
        thread.Start();
        while (!result) {
            handover.Serve(std::chrono::milliseconds(5));
        }
        status.thread = nullptr;
        return *result;
    }

    sim::BootMonitorModel board;
    test::TempDir dir;
    TFilePro package;
    QueuedHandover handover;
    test::RecordingBar bar;
    StoppingStatus status;
};

TEST_F(RunBootMonitorTest, EntryZeroGoesToRamAndEntryOneToTheFlashStageDespiteStop) {
    const std::vector<std::uint8_t> main(777, 0x5a);
    const std::vector<std::uint8_t> second(300, 0xa5);
    EXPECT_EQ(run({{"RV4500", "2.10", '9', main}, {"RV4500", "2.10", '9', second}}),
              RunResult::Success);
    EXPECT_EQ(board.images().at(0x80000000), main);
    EXPECT_EQ(board.images().at(0x83fa0000), second);
    EXPECT_EQ(status.texts,
              (std::vector<std::string>{"Power ON", "Connected", "Programming", "Done"}));
    EXPECT_EQ(bar.maximum, 1777);
    EXPECT_EQ(bar.pos, 1777);
}

}  // namespace
}  // namespace korvel
