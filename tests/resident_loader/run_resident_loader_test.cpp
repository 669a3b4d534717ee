#include "procedures/resident_loader/run_resident_loader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "jobs/queued_handover.h"
#include "procedures/package_kinds.h"
#include "serial/port_resolver.h"
#include "sim/package_writer.h"
#include "sim/resident_loader_model.h"
#include "tests/support/line_tap.h"
#include "tests/support/recording_targets.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kPort = 47;

Bytes Image(std::size_t size) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<std::uint8_t>(i * 13 + 1);
    }
    return image;
}

// Whole runs through the program's own driver table, on a worker thread,
// against the board model; this thread serves the hand-overs.
class RunResidentLoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PortResolver::instance().registerDevice(
            kPort, [this] { return std::make_unique<VirtualSerialDevice>(line); });
    }
    void TearDown() override { PortResolver::instance().clear(); }

    // `stopWhen` is asked on the worker after every byte to the board; the
    // first time it holds, the run is stopped.
    RunResult run(char kind, const Bytes& image, const std::function<bool()>& stopWhen = {}) {
        sim::PackageEntry entry{"BOARD", "2.10", kind, image};
        entry.trailer[0] = 0xAB;
        entry.trailer[1] = 0xCD;
        EXPECT_TRUE(package.LoadFromFile(dir.write("fw.pr2", sim::BuildPackage({entry}))));
        std::optional<RunResult> result;
        GenericThread thread(handover, nullptr, StandardDrivers());
        thread.OnFinished = [&](const Outcome& o) { result = o.result; };
        if (stopWhen) {
            line.afterHostByte = [&, stopped = false](VirtualNs) mutable {
                if (!stopped && stopWhen()) {
                    stopped = true;
                    thread.Stop();
                }
            };
        }
        thread.Setup(package, &bar, 38400, &panel, kPort);
        thread.Start();
        while (!result) {
            handover.Serve(std::chrono::milliseconds(5));
        }
        return *result;
    }

    std::size_t requests(std::uint8_t command) const {
        const auto& r = model.requests();
        return static_cast<std::size_t>(
            std::count_if(r.begin(), r.end(), [&](const auto& q) { return q.command == command; }));
    }

    sim::ResidentLoaderModel model;
    test::LineTap line{model};
    test::TempDir dir;
    TFilePro package;
    QueuedHandover handover;
    test::RecordingBar bar;
    test::RecordingStatus panel;
};

TEST_F(RunResidentLoaderTest, RelativeKindProgramsTheEntryAndTheTwoBytesAfterIt) {
    const Bytes image = Image(1000);
    EXPECT_EQ(run('(', image), RunResult::Success);
    EXPECT_EQ(bar.maximum, 1002);
    // Blocks at 0 and 1024: the first offset past 1002 is the last one.
    EXPECT_EQ(requests(0x17), 2u);
    EXPECT_EQ(model.noiseBytes(), 0) << "the line must run at 57600 8N1";
    const auto area = model.imageArea();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), area.begin()));
    EXPECT_EQ(area[1000], 0xAB);
    EXPECT_EQ(area[1001], 0xCD);
    EXPECT_TRUE(std::all_of(area.begin() + 1002, area.end(), [](auto b) { return b == 0xFF; }));
    EXPECT_EQ(panel.texts.back(), "Reboot");
}

TEST_F(RunResidentLoaderTest, AbsoluteKindProgramsTheStoredSize) {
    const Bytes image = Image(1000);
    EXPECT_EQ(run(')', image), RunResult::Success);
    EXPECT_EQ(bar.maximum, 1000);
    EXPECT_EQ(bar.pos, 1024);
    EXPECT_EQ(requests(0x20), 1u);
    EXPECT_EQ(requests(0x21), 1u);
    const auto area = model.imageArea();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), area.begin()));
    EXPECT_TRUE(std::all_of(area.begin() + 1000, area.begin() + 32768, [](auto b) {
        return b == 0xFF;
    })) << "the trailer bytes are not part of an absolute image";
}

TEST_F(RunResidentLoaderTest, StopEndsTheRunAfterTheCurrentBlock) {
    // Stopped as the first block's request reaches the board.
    const RunResult result = run(')', Image(40000), [&] { return requests(0x21) == 1; });
    EXPECT_EQ(result, RunResult::Aborted);
    // The block under way is answered; at most the next one went out.
    EXPECT_GE(requests(0x21), 1u);
    EXPECT_LE(requests(0x21), 2u);
    EXPECT_EQ(requests(0x11), 0u) << "no restart after a stop";
}

}  // namespace
}  // namespace korvel
