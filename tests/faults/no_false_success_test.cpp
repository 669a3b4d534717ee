// No failure reported as success: every request a run makes is made to fail
// in turn (the board refuses it, or falls silent from it on), and the run
// must not end in Success unless that failure is, by the protocol, none at all: no
// answer to "G", a refused connection ping or erase-all, the final restart's
// outcome, a missing prompt, echo, start line or "Done".
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "procedures/boot_monitor/boot_monitor_procedure.h"
#include "procedures/controller_unit/pcx_procedure.h"
#include "procedures/controller_unit/run_controller_unit.h"
#include "procedures/isp/isp_procedure.h"
#include "procedures/resident_loader/resident_loader_procedure.h"
#include "sim/boot_monitor_model.h"
#include "sim/lpc_board.h"
#include "sim/pcx_board.h"
#include "sim/resident_loader_model.h"

namespace korvel {
namespace {

constexpr VirtualNs kMs = 1'000'000;

enum class Failure { None, Refuse, Silence };

const char* Name(Failure f) {
    return f == Failure::Refuse ? "refused" : f == Failure::Silence ? "silent from" : "none";
}

// Bytes a test slips onto the board's side of the line at given times.
class Injected {
  public:
    void add(VirtualNs at, const std::string& bytes) {
        for (char c : bytes) {
            bytes_.push_back({at, static_cast<std::uint8_t>(c)});
        }
    }
    std::optional<VirtualNs> next(std::optional<VirtualNs> other) const {
        if (!bytes_.empty() && (!other || bytes_.front().first < *other)) {
            return bytes_.front().first;
        }
        return other;
    }
    void take(VirtualNs now, std::vector<std::uint8_t>& out) {
        while (!bytes_.empty() && bytes_.front().first <= now) {
            out.push_back(bytes_.front().second);
            bytes_.pop_front();
        }
    }

  private:
    std::deque<std::pair<VirtualNs, std::uint8_t>> bytes_;
};

// ---------------------------------------------------------------- LPC ISP

// A line of uuencoded image data: its first character gives the byte count
// and every character lies in the uuencode range.
bool IsDataLine(const std::string& line) {
    if (line.empty() || line[0] <= ' ' || line[0] > 'M') {
        return false;
    }
    const std::size_t n = static_cast<std::size_t>(line[0] - ' ');
    return line.size() == 1 + 4 * ((n + 2) / 3) &&
           std::all_of(line.begin(), line.end(), [](char c) { return c > ' ' && c <= '`'; });
}

bool AllDigits(const std::string& line) {
    return !line.empty() && std::all_of(line.begin(), line.end(), ::isdigit);
}

// In front of an LPC board: fails the host's line number `step` (from 1).
// Refused: the board carries the line out, but its answer is replaced by the
// echo and an error (for a data line, an error instead of the echoed line
// end; for a checksum, "RESEND"; for the probe, an error and no echo).
// Silent: from that line on the board hears and says nothing.
class IspStepFault : public VirtualLineEnd {
  public:
    IspStepFault(sim::LpcBoard& board, Failure failure, int step)
        : board_(board), failure_(failure), step_(step) {
        // Every answer is then complete the moment its line is, so it can be
        // taken off the line whole.
        board_.setPaced(false);
    }

    void hostByte(VirtualNs at, std::uint8_t byte) override {
        const int current = static_cast<int>(lines.size()) + 1;
        if (failure_ == Failure::Silence && current >= step_) {
            silent_ = true;
        }
        if (silent_) {
            return;
        }
        board_.hostByte(at, byte);
        line_.push_back(static_cast<char>(byte));
        if (line_ != "?" && byte != '\n') {
            return;
        }
        std::string line = line_;
        line_.clear();
        if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
            line.resize(line.size() - 2);
        }
        lines.push_back(line);
        if (failure_ == Failure::Refuse && current == step_) {
            std::vector<std::uint8_t> answer;
            board_.takeBoardBytes(at, answer);
            injected_.add(at + kMs, Refusal(line));
        }
    }
    void hostBreak(VirtualNs at, bool on) override { board_.hostBreak(at, on); }
    void hostLineSettings(VirtualNs at, const LineSettings& s) override {
        board_.hostLineSettings(at, s);
    }
    std::optional<VirtualNs> nextBoardByte() override {
        return injected_.next(silent_ ? std::nullopt : board_.nextBoardByte());
    }
    void takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) override {
        std::vector<std::uint8_t> fromBoard;
        board_.takeBoardBytes(now, fromBoard);
        if (!silent_) {
            out.insert(out.end(), fromBoard.begin(), fromBoard.end());
        }
        injected_.take(now, out);
    }

    std::vector<std::string> lines;

  private:
    static std::string Refusal(const std::string& line) {
        if (line == "?") {
            return "19\r\n";
        }
        if (IsDataLine(line)) {
            return line + "19\r\n";
        }
        return line + "\r\n" + (AllDigits(line) ? "RESEND\r\n" : "19\r\n");
    }

    sim::LpcBoard& board_;
    Failure failure_;
    int step_;
    bool silent_ = false;
    std::string line_;
    Injected injected_;
};

// 16 bytes at address 0: sync, identify, unlock, erase sector 0, one block of
// 92 data lines and 5 checksums, the jump program and "G".
const std::string kIspImage =
    ":10000000000102030405060708090A0B0C0D0E0F78\r\n"
    ":00000001FF\r\n";

RunResult RunIsp(sim::LpcBoard& board, Failure failure, int step,
                 std::vector<std::string>* lines = nullptr) {
    IspStepFault tap(board, failure, step);
    IspProcedure proc(std::make_unique<VirtualSerialDevice>(tap), 0x00, 38400);
    EXPECT_TRUE(proc.Open());
    const RunResult result =
        proc.Run({reinterpret_cast<const std::uint8_t*>(kIspImage.data()), kIspImage.size()});
    if (lines != nullptr) {
        *lines = tap.lines;
    }
    return result;
}

TEST(NoFalseSuccessTest, IspFailsAtEveryRefusedOrUnansweredLineButAnUnansweredGo) {
    std::vector<std::string> lines;
    {
        sim::LpcBoard board(*sim::FindLpcPart("LPC2131"));
        ASSERT_EQ(RunIsp(board, Failure::None, 0, &lines), RunResult::Success);
    }
    ASSERT_GT(lines.size(), 100u);
    ASSERT_EQ(lines.back(), "G 1073742336 A");
    for (Failure failure : {Failure::Refuse, Failure::Silence}) {
        for (std::size_t step = 1; step <= lines.size(); ++step) {
            const std::string& line = lines[step - 1];
            SCOPED_TRACE(std::string(Name(failure)) + " line " + std::to_string(step) + " \"" +
                         line + "\"");
            sim::LpcBoard board(*sim::FindLpcPart("LPC2131"));
            const RunResult result = RunIsp(board, failure, static_cast<int>(step));
            // Silence after "G" is the new firmware running; an error in
            // place of a data line's echo is not the chip's word on the line:
            // its "OK" to the group's sum is.
            const bool notAFailure = (failure == Failure::Silence && line.rfind("G ", 0) == 0) ||
                                     (failure == Failure::Refuse && IsDataLine(line));
            EXPECT_EQ(result, notAFailure ? RunResult::Success : RunResult::ProgrammingError);
        }
    }
}

// ------------------------------------------------------------------- PCX

// In front of the PCX: fails the host's request number `step`.
// Refused: the unit carries it out, but its reply is replaced by one with
// status 0x05. Silent: from that request on the unit hears and says nothing.
class PcxStepFault : public VirtualLineEnd {
  public:
    PcxStepFault(sim::PcxBoard& board, Failure failure, int step)
        : board_(board), failure_(failure), step_(step) {}

    void hostByte(VirtualNs at, std::uint8_t byte) override {
        const int current = static_cast<int>(commands.size()) + 1;
        if (failure_ == Failure::Silence && current >= step_) {
            silent_ = true;
        }
        if (silent_) {
            return;
        }
        board_.hostByte(at, byte);
        frame_.push_back(byte);
        if (frame_.size() < 9 || frame_.size() != 9u + (frame_[4] << 8 | frame_[5])) {
            return;
        }
        const std::uint8_t command = frame_[3];
        frame_.clear();
        commands.push_back(command);
        if (failure_ == Failure::Refuse && current == step_) {
            dropNextReply_ = true;
            // 02, address, address ^ 0x85, command, length 0, status 05, sum, 03.
            const std::uint8_t sum = static_cast<std::uint8_t>(command + 0x05);
            injected_.add(at + kMs, std::string{0x02, 0x22, static_cast<char>(0xA7),
                                                static_cast<char>(command), 0x00, 0x00, 0x05,
                                                static_cast<char>(sum), 0x03});
        }
    }
    void hostBreak(VirtualNs at, bool on) override { board_.hostBreak(at, on); }
    void hostLineSettings(VirtualNs at, const LineSettings& s) override {
        board_.hostLineSettings(at, s);
    }
    std::optional<VirtualNs> nextBoardByte() override {
        return injected_.next(silent_ ? std::nullopt : board_.nextBoardByte());
    }
    void takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) override {
        std::vector<std::uint8_t> fromBoard;
        board_.takeBoardBytes(now, fromBoard);
        for (std::uint8_t b : fromBoard) {
            if (!silent_ && !dropping(b)) {
                out.push_back(b);
            }
        }
        injected_.take(now, out);
    }

    std::vector<std::uint8_t> commands;

  private:
    // Swallows the unit's own reply to the refused request, byte by byte.
    bool dropping(std::uint8_t b) {
        if (!dropNextReply_) {
            return false;
        }
        if (reply_.empty() && b != 0x02) {
            return true;
        }
        reply_.push_back(b);
        if (reply_.size() >= 9 && reply_.size() == 9u + (reply_[4] << 8 | reply_[5])) {
            reply_.clear();
            dropNextReply_ = false;
        }
        return true;
    }

    sim::PcxBoard& board_;
    Failure failure_;
    int step_;
    bool silent_ = false;
    bool dropNextReply_ = false;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> reply_;
    Injected injected_;
};

std::vector<std::uint8_t> PcxImage() {
    std::vector<std::uint8_t> image(3000);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i % 249);
    }
    return image;
}

RunResult RunPcx(Failure failure, int step, std::vector<std::uint8_t>* commands = nullptr) {
    sim::PcxBoard board;
    PcxStepFault tap(board, failure, step);
    PcxProcedure proc(std::make_unique<VirtualSerialDevice>(tap));
    EXPECT_TRUE(proc.link.port().open());
    proc.Prepare();
    const auto image = PcxImage();
    const int code = proc.Run(image, "2.11", PcxOptions{});
    if (commands != nullptr) {
        *commands = tap.commands;
    }
    // A failure always says why; what is no failure leaves no reason behind.
    EXPECT_EQ(proc.reason().empty(), PcxRunResult(code) == RunResult::Success) << proc.reason();
    return PcxRunResult(code);
}

TEST(NoFalseSuccessTest, PcxFailsAtEveryRefusedOrUnansweredRequest) {
    constexpr std::uint8_t kPing = 0x10;
    constexpr std::uint8_t kReadInfo = 0x11;
    constexpr std::uint8_t kErase = 0x20;
    constexpr std::uint8_t kReboot = 0x63;
    std::vector<std::uint8_t> commands;
    ASSERT_EQ(RunPcx(Failure::None, 0, &commands), RunResult::Success);
    // Ping, ReadInfo, BeginProgramming, ChangeBaudRate, ping, Erase(0),
    // three blocks, Reboot.
    ASSERT_EQ(commands, (std::vector<std::uint8_t>{0x10, 0x11, 0x0A, 0x18, 0x10, 0x20, 0x21, 0x21,
                                                   0x21, 0x63}));
    const std::size_t firstReadInfo =
        std::find(commands.begin(), commands.end(), kReadInfo) - commands.begin();
    for (Failure failure : {Failure::Refuse, Failure::Silence}) {
        for (std::size_t step = 1; step <= commands.size(); ++step) {
            const std::uint8_t command = commands[step - 1];
            SCOPED_TRACE(std::string(Name(failure)) + " request " + std::to_string(step));
            const bool last = step == commands.size();
            bool notAFailure = false;
            if (failure == Failure::Refuse) {
                // A refused connection ping is one failed try of a hundred; a
                // refused erase-all is followed by sector erasures; the final
                // restart's result is not looked at.
                notAFailure = (command == kPing && step - 1 < firstReadInfo) || command == kErase ||
                              (command == kReboot && last);
            } else {
                // An unanswered final restart costs its attempts, nothing more.
                notAFailure = command == kReboot && last;
            }
            EXPECT_EQ(RunPcx(failure, static_cast<int>(step)),
                      notAFailure ? RunResult::Success : RunResult::ProgrammingError);
        }
    }
}

// ------------------------------------------------------- resident loader

TEST(NoFalseSuccessTest, ResidentLoaderFailsAtEveryUnansweredOrGarbledRequestButTheRestart) {
    const std::vector<std::uint8_t> image(3000, 0x42);
    for (bool relative : {true, false}) {
        // Relative: connect, prepare, blocks at 0, 1024, 2048, 3072, restart.
        // Absolute: connect, erase, three blocks, restart.
        const int requests = relative ? 7 : 6;
        for (int step = 1; step <= requests; ++step) {
            for (bool silent : {true, false}) {
                SCOPED_TRACE(std::string(relative ? "relative" : "absolute") +
                             (silent ? ", no reply to request " : ", bad sum in reply ") +
                             std::to_string(step));
                sim::ResidentLoaderFaults faults;
                (silent ? faults.noReplyAt : faults.badChecksumAt) = step;
                sim::ResidentLoaderModel board(faults);
                ResidentLoaderProcedure proc(std::make_unique<VirtualSerialDevice>(board), 0x00,
                                             ResidentLoaderProcedure::kBaudRate);
                ASSERT_TRUE(proc.port.open());
                const RunResult result =
                    proc.Run(image, relative ? ResidentLoaderProcedure::Addressing::ByOffset
                                             : ResidentLoaderProcedure::Addressing::ByAddress);
                // Nothing more is asked after the request that failed.
                EXPECT_EQ(board.requests().size(), static_cast<std::size_t>(step));
                EXPECT_EQ(result,
                          step == requests ? RunResult::Success : RunResult::ProgrammingError);
                EXPECT_EQ(proc.reason().empty(), result == RunResult::Success) << proc.reason();
            }
        }
    }
}

// ---------------------------------------------------------- boot monitor

// In front of a boot monitor: from the host's step number `step` on (each
// carriage return it sends and each BREAK counts as one), the monitor hears
// and says nothing.
class MonitorFallsSilent : public VirtualLineEnd {
  public:
    MonitorFallsSilent(sim::BootMonitorModel& board, int step) : board_(board), step_(step) {}

    void hostByte(VirtualNs at, std::uint8_t byte) override {
        if (byte == '\r') {
            count(at, "CR");
        }
        if (!silent_) {
            board_.hostByte(at, byte);
        }
    }
    void hostBreak(VirtualNs at, bool on) override {
        if (on) {
            count(at, "BREAK");
        }
        if (!silent_) {
            board_.hostBreak(at, on);
        }
    }
    void hostLineSettings(VirtualNs at, const LineSettings& s) override {
        board_.hostLineSettings(at, s);
    }
    std::optional<VirtualNs> nextBoardByte() override {
        return silent_ ? std::nullopt : board_.nextBoardByte();
    }
    void takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) override {
        std::vector<std::uint8_t> fromBoard;
        board_.takeBoardBytes(now, fromBoard);
        if (!silent_) {
            out.insert(out.end(), fromBoard.begin(), fromBoard.end());
        }
    }

    std::vector<std::string> steps;

  private:
    void count(VirtualNs, const char* what) {
        steps.push_back(what);
        if (step_ > 0 && static_cast<int>(steps.size()) >= step_) {
            silent_ = true;
        }
    }

    sim::BootMonitorModel& board_;
    int step_;
    bool silent_ = false;
};

RunResult RunMonitor(const sim::BootMonitorConfig& config, int step,
                     std::vector<std::string>* steps = nullptr) {
    sim::BootMonitorModel board(config);
    MonitorFallsSilent tap(board, step);
    BootMonitorProcedure proc(std::make_unique<VirtualSerialDevice>(tap));
    EXPECT_TRUE(proc.Open());
    const std::vector<std::uint8_t> main(250, 0x11);
    const std::vector<std::uint8_t> second(120, 0x22);
    const RunResult result = proc.Run(main, second);
    if (steps != nullptr) {
        *steps = tap.steps;
    }
    EXPECT_EQ(proc.reason().empty(), result == RunResult::Success) << proc.reason();
    return result;
}

TEST(NoFalseSuccessTest, BootMonitorFailsWhenFallingSilentAnywhereBeforeTheStartCommand) {
    std::vector<std::string> steps;
    ASSERT_EQ(RunMonitor({}, 0, &steps), RunResult::Success);
    // The wake-up line, the flash stage's load, BREAK and three commands, the
    // main load and its BREAK, and the start command.
    ASSERT_EQ(steps, (std::vector<std::string>{"CR", "CR", "BREAK", "CR", "CR", "CR", "CR", "BREAK",
                                               "CR"}));
    for (std::size_t step = 1; step <= steps.size(); ++step) {
        SCOPED_TRACE("silent from step " + std::to_string(step));
        // No line after the start command and no "Done" are no failure.
        const bool notAFailure = step == steps.size();
        EXPECT_EQ(RunMonitor({}, static_cast<int>(step)),
                  notAFailure ? RunResult::Success : RunResult::DeviceError);
    }
}

TEST(NoFalseSuccessTest, BootMonitorFailsOnEveryRefusalAndForgivesOnlyAMissingPromptOrDone) {
    const struct {
        const char* fault;
        RunResult result;
    } cases[] = {
        {"running", RunResult::DeviceError},
        {"refuse@0x83fa0000", RunResult::DeviceError},
        {"refuse@0x80000000", RunResult::DeviceError},
        {"mute-load@0x83fa0000", RunResult::DeviceError},
        {"mute-load@0x80000000", RunResult::DeviceError},
        {"ignore-break@0x80000000", RunResult::DeviceError},
        {"mute-nsave", RunResult::DeviceError},
        {"mute-aboot", RunResult::DeviceError},
        {"mute-prompt", RunResult::DeviceError},
        {"no-prompt", RunResult::Success},
        {"no-done", RunResult::Success},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        sim::BootMonitorConfig config;
        std::string error;
        ASSERT_TRUE(sim::AddBootMonitorFault(c.fault, config.faults, error)) << error;
        EXPECT_EQ(RunMonitor(config, 0), c.result);
    }
}

}  // namespace
}  // namespace korvel
