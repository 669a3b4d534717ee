#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "jobs/generic_thread.h"
#include "jobs/queued_handover.h"
#include "procedures/package_kinds.h"
#include "serial/port_resolver.h"
#include "serial/virtual_serial_device.h"
#include "sim/package_writer.h"
#include "tests/support/recording_targets.h"
#include "tests/support/temp_dir.h"

namespace korvel::test {

constexpr VirtualNs kMsNs = 1'000'000;

// What became of the port of one run, written by the device itself: it is
// owned by the procedure's SerialPort, so its destruction is the procedure's.
struct PortRecord {
    std::atomic<int> opens{0};
    std::atomic<int> closes{0};
    std::atomic<bool> destroyed{false};
    std::atomic<bool> openWhenDestroyed{false};
    // Virtual time the run took, from the line's creation to its end.
    std::atomic<VirtualNs> endNs{0};
};

// A virtual line that writes its life into a PortRecord.
class RecordedDevice : public SerialDevice {
  public:
    RecordedDevice(VirtualLineEnd& end, PortRecord& record);
    ~RecordedDevice() override;

    bool open(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return line_.isOpen(); }
    const OpenFailure& lastOpenFailure() const override { return line_.lastOpenFailure(); }
    void applyLineSettings(const LineSettings& settings) override {
        line_.applyLineSettings(settings);
    }
    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override {
        return line_.read(buffer, capacity);
    }
    bool waitForInput(unsigned timeoutMs) override { return line_.waitForInput(timeoutMs); }
    void write(const std::uint8_t* data, std::size_t count) override { line_.write(data, count); }
    void discardInput() override { line_.discardInput(); }
    void discardOutput() override { line_.discardOutput(); }
    void setBreak(bool on) override { line_.setBreak(on); }
    void setModemLines(bool dtr, bool rts) override { line_.setModemLines(dtr, rts); }
    std::uint32_t tickMs() override { return line_.tickMs(); }
    void sleepMs(unsigned ms) override { line_.sleepMs(ms); }
    std::string path() const override { return line_.path(); }

  private:
    VirtualSerialDevice line_;
    PortRecord& record_;
};

// The outcome of one run through the program's own drivers and worker thread.
struct DriverRun {
    RunResult result = RunResult::Success;
    int finishedCalls = 0;
    // The procedure was gone (its port with it) when OnFinished ran.
    bool destroyedBeforeFinished = false;
    std::vector<std::string> texts;
    // Why the run ended as it did (Outcome::reason); empty on success.
    std::string reason;
    BoardFacts learned;
    int opens = 0;
    int closes = 0;
    bool openWhenDestroyed = false;
    VirtualNs virtualNs = 0;

    std::string lastText() const { return texts.empty() ? std::string() : texts.back(); }
    // The last n status texts (fewer when fewer were shown).
    std::vector<std::string> lastTexts(std::size_t n) const;
};

// Called on the serving thread each time the run shows a status text, while
// the worker waits for it, with the texts so far and the package file the run
// was loaded from.
using DuringRun =
    std::function<void(const std::vector<std::string>& texts, const std::string& packageFile)>;

// Writes the package, loads it, and runs it on a GenericThread whose port is
// a virtual line to `end`; this thread serves the hand-overs as a window
// would.
DriverRun RunThroughDriver(VirtualLineEnd& end, const std::vector<sim::PackageEntry>& entries,
                           int baudRate = 38400, const DuringRun& duringRun = {});

// Whatever the result: OnFinished exactly once, after the procedure and its
// port were gone; the port opened and closed exactly once.
inline void ExpectCleanEnd(const DriverRun& run) {
    EXPECT_EQ(run.finishedCalls, 1);
    EXPECT_TRUE(run.destroyedBeforeFinished);
    EXPECT_EQ(run.opens, 1);
    EXPECT_EQ(run.closes, 1);
    EXPECT_FALSE(run.openWhenDestroyed);
}

namespace detail {
constexpr int kDriverRunPort = 61;
// A second OnFinished would come right behind the first one.
constexpr auto kLateCallWindow = std::chrono::milliseconds(20);

inline VirtualSerialDevice::Options Recorded() {
    VirtualSerialDevice::Options options;
    options.path = "virtual-recorded";
    return options;
}
}  // namespace detail

inline RecordedDevice::RecordedDevice(VirtualLineEnd& end, PortRecord& record)
    : line_(end, detail::Recorded()), record_(record) {}

inline RecordedDevice::~RecordedDevice() {
    record_.openWhenDestroyed = line_.isOpen();
    record_.endNs = line_.now();
    record_.destroyed = true;
}

inline bool RecordedDevice::open(const LineSettings& settings) {
    const bool ok = line_.open(settings);
    record_.opens += ok ? 1 : 0;
    return ok;
}

inline void RecordedDevice::close() {
    if (line_.isOpen()) {
        ++record_.closes;
    }
    line_.close();
}

inline std::vector<std::string> DriverRun::lastTexts(std::size_t n) const {
    const std::size_t k = std::min(n, texts.size());
    return std::vector<std::string>(texts.end() - static_cast<std::ptrdiff_t>(k), texts.end());
}

inline DriverRun RunThroughDriver(VirtualLineEnd& end,
                                  const std::vector<sim::PackageEntry>& entries, int baudRate,
                                  const DuringRun& duringRun) {
    PortRecord record;
    PortResolver::instance().registerDevice(
        detail::kDriverRunPort, [&] { return std::make_unique<RecordedDevice>(end, record); });
    TempDir dir;
    TFilePro package;
    const std::string file = dir.write("run.pr2", sim::BuildPackage(entries));
    EXPECT_TRUE(package.LoadFromFile(file));

    DriverRun run;
    QueuedHandover handover;
    RecordingBar bar;
    struct HookedStatus : RecordingStatus {
        std::function<void()> hook;
        void setText(const std::string& t) override {
            RecordingStatus::setText(t);
            if (hook) {
                hook();
            }
        }
    } panel;
    if (duringRun) {
        panel.hook = [&] { duringRun(panel.texts, file); };
    }
    {
        std::optional<RunResult> result;
        GenericThread thread(handover, nullptr, StandardDrivers());
        thread.OnFinished = [&](const Outcome& outcome) {
            ++run.finishedCalls;
            run.destroyedBeforeFinished = record.destroyed;
            result = outcome.result;
            run.reason = outcome.reason;
            run.learned = outcome.learned;
        };
        thread.Setup(package, &bar, baudRate, &panel, detail::kDriverRunPort);
        thread.Start();
        while (!result) {
            handover.Serve(std::chrono::milliseconds(5));
        }
        handover.Serve(detail::kLateCallWindow);
        run.result = *result;
    }
    PortResolver::instance().unregisterDevice(detail::kDriverRunPort);
    run.texts = panel.texts;
    run.opens = record.opens;
    run.closes = record.closes;
    run.openWhenDestroyed = record.openWhenDestroyed;
    run.virtualNs = record.endNs;
    return run;
}

}  // namespace korvel::test
