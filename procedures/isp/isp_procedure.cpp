#include "procedures/isp/isp_procedure.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace korvel {

namespace {

// The dialogue's states, in the order a run passes through them.
enum State : std::int32_t {
    kSync = 0,
    kConfirmSync = 1,
    kCrystal = 2,
    kIdentify = 3,
    kUnlock = 4,
    kBlankCheck = 5,
    kPrepareErase = 6,
    kErase = 7,
    kNextBlock = 8,
    kDataLine = 9,
    kChecksum = 10,
    kPrepareCopy = 11,
    kCopy = 12,
    kBoot = 13,
    kLoadJump = 14,
    kJumpLine = 15,
    kJumpChecksum = 16,
    kGo = 17,
};

// Time-outs in slices of kSliceMs, one per command.
constexpr int kSyncSlices = 2;
constexpr int kConfirmSyncSlices = 3;
constexpr int kCrystalSlices = 3;
constexpr int kIdentifySlices = 3;
constexpr int kUnlockSlices = 3;
constexpr int kBlankCheckSlices = 5;
constexpr int kPrepareEraseSlices = 8;
constexpr int kEraseSlices = 25;
constexpr int kWriteSlices = 4;
constexpr int kDataLineSlices = 5;
constexpr int kChecksumSlices = 3;
constexpr int kPrepareCopySlices = 5;
constexpr int kCopySlices = 5;
constexpr int kLoadJumpSlices = 4;
// The jump program takes the loader away; silence here means it ran.
constexpr int kGoSlices = 4;

// Pause before confirming sync with a board that echoed the probe.
constexpr unsigned kEchoedProbePauseMs = 300;
// Pause between polls of an idle line.
constexpr unsigned kIdlePollMs = 1;

// Time-outs and "?" echoes of the probe tolerated before giving up.
constexpr int kMaxSyncRetries = 5;
// 12.0 MHz crystal, sent in kHz.
constexpr int kCrystalKhz = 12000;
constexpr int kLinesPerGroup = 20;
constexpr int kLogCapacity = 512;

constexpr const char* kSyncError =
    "\r\nERROR: Unable to sync to baud rate.\r\n"
    "This probably means the LPC2xxx chip is not connected\r\n"
    "or it is not being reset, or P0.14 is not low after\r\n"
    "reset to cause it to enter the bootloader mode.\r\n"
    "\r\n"
    "Please check the serial port connection, make sure\r\n"
    "pin P0.14 is low (or tied to RTS via RS-232 level\r\n"
    "translator), and the chip has been reset (or reset\r\n"
    "is tied to DTR via RS-232 level translator).\r\n";

constexpr const char* kUnknownChip =
    "\r\nUnknown chip ID: \"%s\".\r\n"
    "\r\n"
    "Perhaps you have a new Philips LPC chip which does not\r\n"
    "have its ID string and sector map defined in this program?\r\n"
    "Please contact Korvel support with an exact copy of this message\r\n"
    "and the part number, revision and board of the chip.\r\n";

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(again);
    return text;
}

bool IsBlankOrControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= ' ' || u == 0x7F;
}

}  // namespace

IspProcedure::IspProcedure(int portNumber, std::uint8_t lineFlags, int baudRate)
    : port(portNumber, baudRate, lineFlags) {
    Clear();
}

IspProcedure::IspProcedure(std::unique_ptr<SerialDevice> device, std::uint8_t lineFlags,
                           int baudRate)
    : port(std::move(device), baudRate, lineFlags) {
    Clear();
}

bool IspProcedure::Open() {
    return port.open();
}

void IspProcedure::Close() {
    port.close();
}

RunResult IspProcedure::Run(const std::uint8_t* image, std::int32_t size) {
    // A parse error only shrinks the progress range; the records before the
    // bad line are programmed.
    const int total = image_.LoadHex(image, size);
    SetProgress(0);
    SetProgressMax(total / 1024);
    abortRequested = false;

    Log("\r\nEntering Bootloader Mode\r\n");
    image_.SetVectorChecksum();
    state_ = kSync;
    HandleEvent(Event::Begin);
    runStatus_ = RunStatus::Running;
    progressCount_ = 0;

    do {
        const std::uint32_t sliceStart = port.tickMs();
        bool complete = false;
        do {
            std::uint8_t c = 0;
            const int n = port.read(&c, 1);
            if (n == 0) {
                port.waitMs(kIdlePollMs);
            }
            complete = Feed(&c, n);
        } while (!complete && static_cast<std::uint32_t>(port.tickMs() - sliceStart) < kSliceMs);

        if (timeoutSlices_ > 0 && --timeoutSlices_ == 0) {
            echoPos_ = -1;
            HandleEvent(Event::Timeout);
        }
        if (complete) {
            HandleEvent(Event::Response);
        }
        SetProgress(progressCount_);
    } while (runStatus_ == RunStatus::Running && !abortRequested);

    if (abortRequested) {
        return RunResult::Aborted;
    }
    return runStatus_ == RunStatus::Succeeded ? RunResult::Success : RunResult::ProgrammingError;
}

void IspProcedure::Transmit(const char* text, int slices) {
    const std::size_t length = std::strlen(text);
    if (length == 0) {
        return;
    }
    TransmitRaw(text, static_cast<int>(length));
    // The probe is the one command the boot loader does not echo.
    echoLength_ =
        state_ == kSync ? 0 : static_cast<int>(std::min<std::size_t>(length, kBufferSize - 1));
    std::memcpy(echo_, text, static_cast<std::size_t>(echoLength_));
    echoPos_ = 0;
    responseEnd_ = 0;
    timeoutSlices_ = slices;
}

void IspProcedure::TransmitRaw(const char* bytes, int count) {
    port.write(reinterpret_cast<const std::uint8_t*>(bytes), static_cast<std::uint16_t>(count));
}

bool IspProcedure::Feed(const std::uint8_t* bytes, int count) {
    if (count <= 0 || echoPos_ < 0) {
        return false;
    }
    auto append = [&](std::uint8_t c) {
        if (responseEnd_ >= kBufferSize - 1) {
            // More than the dialogue ever expects without a command: take
            // nothing more, so the command runs into its time-out.
            echoPos_ = -1;
            return false;
        }
        response_[responseEnd_++] = static_cast<char>(c);
        return true;
    };
    if (state_ == kSync && count == 1 && bytes[0] == '?') {
        // An echoed probe: the board is synchronised already, with echo on.
        if (!append('?')) {
            return false;
        }
        response_[responseEnd_] = '\0';
        timeoutSlices_ = 0;
        return true;
    }
    for (int i = 0; i < count; ++i) {
        if (echoPos_ < echoLength_) {
            if (static_cast<char>(bytes[i]) != echo_[echoPos_]) {
                echoPos_ = -1;
                return false;
            }
            ++echoPos_;
        } else if (!append(bytes[i])) {
            return false;
        }
    }
    response_[responseEnd_] = '\0';
    return responseEnd_ >= 2 && response_[responseEnd_ - 2] == '\r' &&
           response_[responseEnd_ - 1] == '\n';
}

int IspProcedure::LineCount() const {
    int lines = 0;
    for (const char* p = response_; (p = std::strstr(p, "\r\n")) != nullptr; p += 2) {
        ++lines;
    }
    return lines;
}

bool IspProcedure::ResponseIs(const char* text) const {
    return std::strcmp(response_, text) == 0;
}

void IspProcedure::Log(const char* format, ...) {
    char text[kLogCapacity];
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(text, sizeof text, format, args) < 0) {
        text[0] = '\0';
    }
    va_end(args);
    // Only the first line of a text is shown.
    if (char* cr = std::strchr(text, '\r')) {
        *cr = '\0';
    }
    std::size_t end = std::strlen(text);
    while (end > 0 && IsBlankOrControl(text[end - 1])) {
        --end;
    }
    std::size_t begin = 0;
    while (begin < end && IsBlankOrControl(text[begin])) {
        ++begin;
    }
    if (end > begin && text[end - 1] == ':') {
        --end;
    }
    const std::string shown(text + begin, end - begin);
    if (shown == ".") {
        ++progressCount_;
        return;
    }
    Status("%s", shown.c_str());
}

void IspProcedure::Cancel(const char* message) {
    Log("\r\nDownload Canceled");
    if (message != nullptr && *message != '\0') {
        Log(": %s", message);
    }
    Log("\r\n");
    runStatus_ = RunStatus::Failed;
}

void IspProcedure::GoTo(std::int32_t next) {
    state_ = next;
    beginPending_ = true;
}

void IspProcedure::HandleEvent(Event event) {
    // "Go to" runs Begin of the new state within the same call; a loop rather
    // than recursion keeps long runs of skipped sectors off the stack.
    Dispatch(event);
    while (beginPending_) {
        beginPending_ = false;
        Dispatch(Event::Begin);
    }
}

std::int32_t IspProcedure::BlockAddress() const {
    return chip_->sector(sectorIndex_).start + blockOffset_;
}

void IspProcedure::Dispatch(Event event) {
    switch (state_) {
        case kSync:
            switch (event) {
                case Event::Begin:
                    Log("Attempting baud sync");
                    syncRetries_ = 0;
                    [[fallthrough]];
                case Event::Retry:
                    Log(".");
                    Transmit("?", kSyncSlices);
                    break;
                case Event::Response:
                    if (ResponseIs("Synchronized\r\n")) {
                        GoTo(kConfirmSync);
                    } else if (ResponseIs("?")) {
                        if (++syncRetries_ > kMaxSyncRetries) {
                            Cancel(kSyncError);
                        } else {
                            port.waitMs(kEchoedProbePauseMs);
                            GoTo(kConfirmSync);
                        }
                    } else {
                        Cancel(Format("Unexpected response to sync, \"%s\"", response_).c_str());
                    }
                    break;
                case Event::Timeout:
                    if (syncRetries_ >= kMaxSyncRetries) {
                        Cancel(kSyncError);
                    } else {
                        ++syncRetries_;
                        Dispatch(Event::Retry);
                    }
                    break;
            }
            break;

        case kConfirmSync:
            if (event == Event::Begin) {
                Transmit("Synchronized\r\n", kConfirmSyncSlices);
            } else if (event == Event::Response && LineCount() == 1) {
                if (ResponseIs("OK\r\n")) {
                    GoTo(kCrystal);
                } else {
                    Cancel(Format("Unable to complete baud sync, %s", response_).c_str());
                }
            } else if (event == Event::Timeout) {
                Cancel("No response to complete baud sync");
            }
            break;

        case kCrystal:
            if (event == Event::Begin) {
                Transmit(Format("%d\r\n", kCrystalKhz).c_str(), kCrystalSlices);
            } else if (event == Event::Response && LineCount() == 1) {
                if (ResponseIs("OK\r\n")) {
                    Log("Baud sync sucessful\r\n");
                    GoTo(kIdentify);
                } else {
                    Cancel(Format("wrong response to crystal: %s", response_).c_str());
                }
            } else if (event == Event::Timeout) {
                Cancel("No response to crystal speed");
            }
            break;

        case kIdentify:
            if (event == Event::Begin) {
                Transmit("J\r\n", kIdentifySlices);
            } else if (event == Event::Response && LineCount() >= 2) {
                if (std::strncmp(response_, "0\r\n", 3) != 0) {
                    Cancel(Format("wrong response to ID: %s", response_).c_str());
                    break;
                }
                const char* id = response_ + 3;
                // Both iterators const: some C libraries' strstr returns char*.
                const char* idEnd = std::strstr(id, "\r\n");
                const std::string partId(id, idEnd);
                chip_ = ChipTable::find(partId);
                if (chip_ == nullptr) {
                    Cancel(Format(kUnknownChip, partId.c_str()).c_str());
                } else {
                    Log("Found chip: \"%s\"\r\n", chip_->name);
                    ReportChip(chip_->name, partId);
                    GoTo(kUnlock);
                }
            } else if (event == Event::Timeout) {
                Cancel("No response to unlock command");
            }
            break;

        case kUnlock:
            if (event == Event::Begin) {
                Transmit("U 23130\r\n", kUnlockSlices);
            } else if (event == Event::Response && LineCount() == 1) {
                if (ResponseIs("0\r\n")) {
                    Log("Device Unlocked\r\n");
                    Log("Erasing....\r\n");
                    sectorIndex_ = 0;
                    GoTo(kBlankCheck);
                } else {
                    Cancel(Format("wrong response unlock: %s", response_).c_str());
                }
            } else if (event == Event::Timeout) {
                Cancel("No response to unlock command");
            }
            break;

        case kBlankCheck:
            if (event == Event::Begin) {
                BeginBlankCheck();
            } else if (event == Event::Response) {
                if (LineCount() == 1 && ResponseIs("0\r\n")) {
                    Log("already blank\r\n");
                    ++sectorIndex_;
                    GoTo(kBlankCheck);
                } else if (LineCount() >= 3) {
                    // Code, offset and contents of the first non-blank word.
                    GoTo(kPrepareErase);
                }
            } else if (event == Event::Timeout) {
                Cancel("No response to blank check");
            }
            break;

        case kPrepareErase:
            if (event == Event::Begin) {
                Transmit(Format("P %d %d\r\n", sectorIndex_, sectorIndex_).c_str(),
                         kPrepareEraseSlices);
            } else if (event == Event::Response && LineCount() == 1) {
                if (ResponseIs("0\r\n")) {
                    GoTo(kErase);
                } else {
                    Cancel("Unable to prep for write");
                }
            } else if (event == Event::Timeout) {
                Cancel("No response");
            }
            break;

        case kErase:
            if (event == Event::Begin) {
                Transmit(Format("E %d %d\r\n", sectorIndex_, sectorIndex_).c_str(), kEraseSlices);
            } else if (event == Event::Response && LineCount() >= 1) {
                if (ResponseIs("0\r\n")) {
                    Log("Ok\r\n");
                    ++sectorIndex_;
                    GoTo(kBlankCheck);
                } else {
                    Log("Error\r\n");
                    Cancel("Unable to erase flash");
                }
            } else if (event == Event::Timeout) {
                Cancel("No response");
            }
            break;

        case kNextBlock:
            if (event == Event::Begin) {
                BeginNextBlock();
            } else if (event == Event::Response && LineCount() == 1) {
                if (ResponseIs("0\r\n")) {
                    xferAddress_ = BlockAddress();
                    xferRemaining_ = chip_->blockSize;
                    lineCount_ = 0;
                    groupSum_ = 0;
                    GoTo(kDataLine);
                } else {
                    Cancel("can't xmit to ram");
                }
            } else if (event == Event::Timeout) {
                Cancel("No response");
            }
            break;

        case kDataLine:
        case kJumpLine:
            if (event == Event::Begin) {
                SendDataLine();
            } else if (event == Event::Response) {
                if (state_ == kDataLine) {
                    OnDataLineEcho(kDataLine, kChecksum);
                } else {
                    OnDataLineEcho(kJumpLine, kJumpChecksum);
                }
            } else if (event == Event::Timeout) {
                Cancel("No response");
            }
            break;

        case kChecksum:
        case kJumpChecksum:
            if (event == Event::Begin) {
                Transmit(Format("%d\r\n", groupSum_).c_str(), kChecksumSlices);
            } else if (event == Event::Response) {
                if (state_ == kChecksum) {
                    OnChecksumAnswer(kDataLine, kPrepareCopy);
                } else {
                    OnChecksumAnswer(kJumpLine, kGo);
                }
            } else if (event == Event::Timeout) {
                Cancel("No response");
            }
            break;

        case kPrepareCopy:
            if (event == Event::Begin) {
                Transmit(Format("P %d %d\r\n", sectorIndex_, sectorIndex_).c_str(),
                         kPrepareCopySlices);
            } else if (event == Event::Response && LineCount() == 1) {
                if (ResponseIs("0\r\n")) {
                    GoTo(kCopy);
                } else {
                    Cancel("Unable to prep for write");
                }
            } else if (event == Event::Timeout) {
                Cancel("No response");
            }
            break;

        case kCopy:
            if (event == Event::Begin) {
                Transmit(
                    Format("C %d %d %d\r\n", BlockAddress(), chip_->ramBuffer, chip_->blockSize)
                        .c_str(),
                    kCopySlices);
            } else if (event == Event::Response && LineCount() == 1) {
                if (ResponseIs("0\r\n")) {
                    Log("Ok\r\n");
                    blockOffset_ += chip_->blockSize;
                    if (blockOffset_ >= chip_->sector(sectorIndex_).size) {
                        blockOffset_ = 0;
                        ++sectorIndex_;
                        ++progressCount_;
                    }
                    GoTo(kNextBlock);
                } else {
                    Cancel("Unable to prep for write");
                }
            } else if (event == Event::Timeout) {
                Cancel("No response");
            }
            break;

        case kBoot:
            if (event == Event::Begin) {
                GoTo(kLoadJump);
            }
            break;

        case kLoadJump:
            if (event == Event::Begin) {
                Log("Booting (soft jump)...\r\n");
                Log("loading jump code\r\n");
                const auto words = static_cast<int>(chip_->jumpCode().size());
                Transmit(Format("W %d %d\r\n", chip_->ramBuffer, 4 * words).c_str(),
                         kLoadJumpSlices);
            } else if (event == Event::Response && LineCount() >= 1) {
                if (ResponseIs("0\r\n")) {
                    // The jump program goes out through the image, from address 0.
                    const auto code = chip_->jumpCode();
                    for (std::size_t i = 0; i < code.size(); ++i) {
                        const std::uint32_t w = code[i];
                        const std::uint8_t bytes[4] = {
                            static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8),
                            static_cast<std::uint8_t>(w >> 16), static_cast<std::uint8_t>(w >> 24)};
                        image_.WriteImage(static_cast<std::int32_t>(4 * i), 4, bytes);
                    }
                    xferAddress_ = 0;
                    xferRemaining_ = static_cast<std::int32_t>(4 * code.size());
                    lineCount_ = 0;
                    groupSum_ = 0;
                    GoTo(kJumpLine);
                } else {
                    Cancel("can't xmit to ram");
                }
            } else if (event == Event::Timeout) {
                Cancel("No response");
            }
            break;

        case kGo:
            if (event == Event::Begin) {
                Log("jumping now!\r\n");
                Transmit(Format("G %d A\r\n", chip_->ramBuffer).c_str(), kGoSlices);
            } else if (event == Event::Response && LineCount() >= 1) {
                if (ResponseIs("0\r\n")) {
                    runStatus_ = RunStatus::Succeeded;
                } else {
                    Log("response = %s", response_);
                    Cancel("couldn't run program");
                }
            } else if (event == Event::Timeout) {
                runStatus_ = RunStatus::Succeeded;
            }
            break;

        default:
            break;
    }
}

void IspProcedure::BeginBlankCheck() {
    if (sectorIndex_ >= chip_->sectorCount) {
        Log("Programming....\r\n");
        blockOffset_ = 0;
        sectorIndex_ = 0;
        GoTo(kNextBlock);
        return;
    }
    Log("  Sector %2d: ", sectorIndex_);
    const SectorGeometry sector = chip_->sector(sectorIndex_);
    if (!image_.AnyData(sector.start, sector.start + sector.size - 1)) {
        Log("not used\r\n");
        ++sectorIndex_;
        GoTo(kBlankCheck);
        return;
    }
    if (sectorIndex_ == 0) {
        // The loader shows its own vectors at 0x00-0x3F, so sector 0 never
        // reads blank: erase it without asking.
        GoTo(kPrepareErase);
        return;
    }
    Transmit(Format("I %d %d\r\n", sectorIndex_, sectorIndex_).c_str(), kBlankCheckSlices);
}

void IspProcedure::BeginNextBlock() {
    if (sectorIndex_ >= chip_->sectorCount) {
        sectorIndex_ = 0;
        GoTo(kBoot);
        return;
    }
    const std::int32_t a = BlockAddress();
    const std::int32_t last = a + chip_->blockSize - 1;
    Log("  Sector %2d (0x%08X-0x%08X): ", sectorIndex_, static_cast<unsigned>(a),
        static_cast<unsigned>(last));
    if (!image_.AnyData(a, last)) {
        Log("not used\r\n");
        AdvanceBlock();
        GoTo(kNextBlock);
        return;
    }
    // A whole block always goes, bytes without data as 0xFF.
    Transmit(Format("W %d %d\r\n", chip_->ramBuffer, chip_->blockSize).c_str(), kWriteSlices);
}

void IspProcedure::AdvanceBlock() {
    blockOffset_ += chip_->blockSize;
    if (blockOffset_ >= chip_->sector(sectorIndex_).size) {
        blockOffset_ = 0;
        ++sectorIndex_;
    }
}

void IspProcedure::SendDataLine() {
    const std::int32_t n = std::min<std::int32_t>(FlashImage::kMaxLineBytes, xferRemaining_);
    std::uint8_t bytes[FlashImage::kMaxLineBytes] = {};
    image_.ReadImage(xferAddress_, n, bytes);
    for (std::int32_t i = 0; i < n; ++i) {
        groupSum_ += bytes[i];
    }
    const std::string line = UuencodeLine(bytes, n);
    xferAddress_ += n;
    xferRemaining_ -= n;
    ++lineCount_;
    // The line without its CR LF is the expected echo; the echoed CR LF
    // becomes the response.
    Transmit(line.c_str(), kDataLineSlices);
    TransmitRaw("\r\n", 2);
}

void IspProcedure::OnDataLineEcho(std::int32_t lineState, std::int32_t checksumState) {
    if (LineCount() != 1) {
        return;
    }
    if (!ResponseIs("\r\n")) {
        Cancel("data xmit did not echo");
    } else if (lineCount_ >= kLinesPerGroup || xferRemaining_ <= 0) {
        GoTo(checksumState);
    } else {
        GoTo(lineState);
    }
}

void IspProcedure::OnChecksumAnswer(std::int32_t lineState, std::int32_t doneState) {
    if (LineCount() != 1) {
        return;
    }
    if (!ResponseIs("OK\r\n")) {
        Cancel("bad checksum");
    } else if (xferRemaining_ > 0) {
        Log(".");
        lineCount_ = 0;
        groupSum_ = 0;
        GoTo(lineState);
    } else {
        GoTo(doneState);
    }
}

}  // namespace korvel
