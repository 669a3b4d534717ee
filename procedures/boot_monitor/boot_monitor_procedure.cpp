#include "procedures/boot_monitor/boot_monitor_procedure.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "procedures/fault_reasons.h"
#include "serial/deadline.h"

namespace korvel {

namespace {

// Waits of the dialogue.
constexpr unsigned kBannerWindowMs = 10000;  // the operator switches the board on meanwhile
constexpr unsigned kLineWaitMs = 5000;       // every line or prompt the monitor owes us
constexpr unsigned kEchoWaitMs = 2000;       // a command's echo
constexpr unsigned kEchoSettleMs = 10;       // before collecting an echo
constexpr int kPromptAttempts = 4;

// Stopping the automatic start: a burst of key presses.
constexpr int kStopKeys = 50;
constexpr unsigned kStopKeyPauseMs = 20;
constexpr unsigned kWakePromptMs = 2000;  // after "\r\n", before looking for the prompt

// The flash stage's commands are spaced so the monitor can finish each one.
constexpr unsigned kCommandGapMs = 1000;
// Quiet line before and after the BREAK that ends a raw transfer.
constexpr unsigned kFlashBreakPauseMs = 300;
constexpr unsigned kMainBreakPauseMs = 1000;
constexpr unsigned kStartSettleMs = 1000;  // after the start command

// Raw transfers are paced, never buffered.
constexpr std::int64_t kChunkBytes = 100;
constexpr std::uint16_t kChunkReadBytes = 10;
constexpr unsigned kChunkPauseMs = 11;

// Progress: 500 once the monitor is caught, then 100 per chunk.
constexpr int kProgressCaught = 500;
constexpr std::int64_t kProgressHeadroom = 1000;

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kPrompt = ">";
constexpr std::string_view kBannerPhrases[] = {"starting application",
                                               "Build date:", "press any key to stop"};
constexpr std::string_view kStopKey = " ";
constexpr std::string_view kSuccessWord = "successfully";
constexpr std::string_view kSaveEnvironment = "nsave";
constexpr std::string_view kBootFromFlash = "aboot flash raw 0x83fa0000";
constexpr std::string_view kSetPrompt = "prompt RV4500> 1";
constexpr std::string_view kStartMain = "exec 0x80000000\r";
constexpr std::string_view kDone = "Done";
constexpr std::string_view kDoneLine = "Done\r\n";

// The two raw transfers: the second image for the flash stage, the main image to RAM.
constexpr BootMonitorProcedure::RawLoad kLoadSecond{"load term raw 0x83fa0000", "0x83fa0000",
                                                    kFlashBreakPauseMs, false};
constexpr BootMonitorProcedure::RawLoad kLoadMain{"load term raw 0x80000000", "0x80000000",
                                                  kMainBreakPauseMs, true};

// What to look at when the monitor goes quiet in mid-dialogue.
constexpr const char* kCheckMonitor = "check the cable, then switch the board off and start again";
constexpr const char* kCheckBreak = "check that the adapter and its cable pass a BREAK";

std::string Quoted(std::string_view command) {
    return "the command \"" + std::string(command) + "\"";
}

// Image sizes come from a package; keep the bar arithmetic inside an int.
int Clamped(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

}  // namespace

BootMonitorProcedure::BootMonitorProcedure(int portNumber)
    : port(portNumber, kBaudRate, kLineFlags) {
    Clear();
}

BootMonitorProcedure::BootMonitorProcedure(std::unique_ptr<SerialDevice> device)
    : port(std::move(device), kBaudRate, kLineFlags) {
    Clear();
}

bool BootMonitorProcedure::Open() {
    if (!port.open()) {
        return false;
    }
    port.discardOutput();
    port.discardInput();
    return true;
}

void BootMonitorProcedure::Close() {
    port.close();
}

bool BootMonitorProcedure::WaitForText(std::string_view text, unsigned timeoutMs) {
    received_.clear();
    const Deadline wait(port, timeoutMs);
    do {
        std::uint8_t byte = 0;
        if (port.readWithin(&byte, 1, wait.remainingMs()) == 1) {
            received_.append(byte);
            if (received_.contains(text)) {
                return true;
            }
        }
    } while (!wait.passed());
    return false;
}

void BootMonitorProcedure::SendCommand(std::string_view text) {
    port.discardOutput();
    port.discardInput();
    SendText(text);
    SendText("\r");
    port.waitMs(kEchoSettleMs);
    const Deadline wait(port, kEchoWaitMs);
    // The echo is the command followed by the monitor's "\r\n".
    const std::size_t expected = text.size() + 2;
    const auto readCapacity =
        static_cast<std::uint16_t>(std::min<std::size_t>(expected, kEchoCapacity));
    std::array<std::uint8_t, kEchoCapacity> chunk{};
    std::size_t count = 0;
    bool complete = false;
    do {
        const std::size_t got = port.readWithin(chunk.data(), readCapacity, wait.remainingMs());
        // Whatever does not fit is consumed all the same, never stored.
        if (count < kEchoCapacity) {
            std::copy_n(chunk.begin(), std::min(got, kEchoCapacity - count), echo_.begin() + count);
        }
        count += got;
        complete = count == expected && expected <= kEchoCapacity &&
                   std::memcmp(echo_.data(), text.data(), text.size()) == 0;
    } while (!complete && !wait.passed());
}

void BootMonitorProcedure::SendText(std::string_view text) {
    // Monitor texts are short; a longer one goes out in pieces the port takes.
    while (!text.empty()) {
        const std::size_t n = std::min<std::size_t>(text.size(), UINT16_MAX);
        port.write(reinterpret_cast<const std::uint8_t*>(text.data()),
                   static_cast<std::uint16_t>(n));
        text.remove_prefix(n);
    }
}

void BootMonitorProcedure::StreamImage(std::span<const std::uint8_t> image) {
    const auto size = static_cast<std::int64_t>(image.size());
    std::uint8_t scratch[kChunkReadBytes];
    std::int64_t k = 0;
    std::int64_t chunk = 0;
    do {
        const std::int64_t offset = k * kChunkBytes;
        chunk = offset + kChunkBytes < size ? kChunkBytes : size - offset;
        // A size that is a multiple of 100 ends with one empty pass.
        if (chunk > 0) {
            port.write(image.data() + offset, static_cast<std::uint16_t>(chunk));
        }
        // Takes what the monitor said meanwhile without waiting for more: the
        // pause below alone spaces the chunks.
        port.readAvailable(scratch, kChunkReadBytes);
        ++k;
        SetProgress(Clamped(k * kChunkBytes + kProgressCaught));
        port.waitMs(kChunkPauseMs);
    } while (chunk == kChunkBytes);
}

bool BootMonitorProcedure::LoadRaw(const RawLoad& load, std::span<const std::uint8_t> image) {
    SendCommand(load.command);
    if (!WaitForText(kLineEnd, kLineWaitMs)) {
        return unanswered(Quoted(load.command), kCheckMonitor);
    }
    if (load.announceProgramming) {
        Status(StatusId::Programming);
    }
    StreamImage(image);
    port.waitMs(load.pauseAroundBreakMs);
    port.sendBreak();
    port.waitMs(load.pauseAroundBreakMs);
    // Only the first line after the BREAK counts: an error there is final.
    const std::string transfer = "the transfer to " + std::string(load.address);
    if (!WaitForText(kLineEnd, kLineWaitMs)) {
        return unanswered("the BREAK that ends " + transfer, kCheckBreak);
    }
    if (!received_.contains(kSuccessWord)) {
        Fail(RunResult::DeviceError,
             FaultReason(Fault::Refused, {"take the image at " + std::string(load.address),
                                          EscapedAnswer(received_.view())}));
        return false;
    }
    learned.bytesWritten += image.size();
    return true;
}

bool BootMonitorProcedure::CommandToPrompt(std::string_view command) {
    port.waitMs(kCommandGapMs);
    SendCommand(command);
    return WaitForText(kPrompt, kLineWaitMs) || unanswered(Quoted(command), kCheckMonitor);
}

bool BootMonitorProcedure::unanswered(const std::string& what, const char* check) {
    if (received_.view().empty()) {
        Fail(RunResult::DeviceError, FaultReason(Fault::NoAnswer, {what, check}));
    } else {
        Fail(RunResult::DeviceError,
             FaultReason(Fault::Garbled, {what, EscapedAnswer(received_.view())}));
    }
    return false;
}

RunResult BootMonitorProcedure::Run(std::span<const std::uint8_t> mainImage,
                                    std::span<const std::uint8_t> secondImage) {
    SetProgress(0);
    SetProgressMax(Clamped(static_cast<std::int64_t>(secondImage.size()) + kProgressHeadroom));
    Status(StatusId::PowerOn);

    port.setBaudRate(kBaudRate);
    port.discardOutput();
    port.discardInput();

    if (!catchMonitor()) {
        return RunResult::DeviceError;
    }
    stopAutostart();
    awaitPrompt();
    if (!secondImage.empty() && !flashSecondImage(secondImage)) {
        return RunResult::DeviceError;
    }
    if (!loadMainImage(mainImage)) {
        return RunResult::DeviceError;
    }
    startMainImage(mainImage.size());
    Status(StatusId::Done);
    return RunResult::Success;
}

bool BootMonitorProcedure::catchMonitor() {
    // The operator switches the board on meanwhile: a space after every line
    // that is not the banner, until a banner phrase turns up.
    bool caught = false;
    // The last line heard instead, to tell a running application from silence.
    std::string heard;
    const Deadline window(port, kBannerWindowMs);
    do {
        port.waitMs(1);
        WaitForText(kLineEnd, kLineWaitMs);
        caught =
            std::any_of(std::begin(kBannerPhrases), std::end(kBannerPhrases),
                        [this](std::string_view phrase) { return received_.contains(phrase); });
        if (!caught) {
            if (!received_.view().empty()) {
                heard = received_.view();
            }
            SendText(kStopKey);
        }
    } while (!caught && !window.passed());
    SetProgress(kProgressCaught);
    if (!caught) {
        Fail(RunResult::DeviceError,
             FaultReason(Fault::NoBanner,
                         {heard.empty() ? "nothing heard" : "last heard " + EscapedAnswer(heard)}));
    }
    return caught;
}

void BootMonitorProcedure::stopAutostart() {
    for (int i = 0; i < kStopKeys; ++i) {
        SendText(kStopKey);
        port.waitMs(kStopKeyPauseMs);
    }
}

void BootMonitorProcedure::awaitPrompt() {
    Status(StatusId::Connected);
    SendText(kLineEnd);
    port.waitMs(kWakePromptMs);
    // A prompt that does not show is no failure: the commands may still work.
    for (int i = 0; i < kPromptAttempts; ++i) {
        if (WaitForText(kPrompt, kLineWaitMs)) {
            break;
        }
    }
}

bool BootMonitorProcedure::flashSecondImage(std::span<const std::uint8_t> image) {
    SetProgressMax(Clamped(static_cast<std::int64_t>(image.size()) + kProgressHeadroom));
    SetProgress(kProgressCaught);
    if (!LoadRaw(kLoadSecond, image) || !CommandToPrompt(kSaveEnvironment) ||
        !CommandToPrompt(kBootFromFlash) || !CommandToPrompt(kSetPrompt)) {
        return false;
    }
    port.waitMs(kCommandGapMs);
    return true;
}

bool BootMonitorProcedure::loadMainImage(std::span<const std::uint8_t> image) {
    SetProgressMax(Clamped(static_cast<std::int64_t>(image.size()) + kProgressHeadroom));
    SetProgress(kProgressCaught);
    return LoadRaw(kLoadMain, image);
}

void BootMonitorProcedure::startMainImage(std::size_t mainSize) {
    // The start command carries its own carriage return and is not echo-checked.
    SendText(kStartMain);
    port.waitMs(kStartSettleMs);
    WaitForText(kLineEnd, kLineWaitMs);
    SetProgress(Clamped(static_cast<std::int64_t>(mainSize) + kProgressHeadroom));

    // The started image's closing report only costs time when it is missing.
    if (!received_.contains(kDone) && !WaitForText(kDoneLine, kLineWaitMs) &&
        !received_.contains(kDone)) {
        WaitForText(kLineEnd, kLineWaitMs);
    }
}

}  // namespace korvel
