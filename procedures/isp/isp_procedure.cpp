#include "procedures/isp/isp_procedure.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "util/decimal.h"

namespace korvel {

namespace {

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
constexpr int kChecksumSlices = 3;
constexpr int kPrepareCopySlices = 5;
constexpr int kCopySlices = 5;
constexpr int kLoadJumpSlices = 4;
constexpr int kReadSlices = 3;
// The jump program takes the loader away; silence here means it ran.
constexpr int kGoSlices = 4;

// Pause before confirming sync with a board that echoed the probe.
constexpr unsigned kEchoedProbePauseMs = 300;

// Time-outs and "?" echoes of the probe tolerated before giving up.
constexpr int kMaxSyncRetries = 5;
// 12.0 MHz crystal, sent in kHz.
constexpr int kCrystalKhz = 12000;
constexpr int kLinesPerGroup = 20;
// "RESEND" answers to one group before the run gives up.
constexpr int kMaxResends = 3;
// While the boot loader runs, the first 64 bytes of flash read as its own
// vectors, so the read-back starts after them.
constexpr std::int32_t kBootBlockBytes = 64;
constexpr int kLogCapacity = 512;
constexpr std::int32_t kGroupBytes = kLinesPerGroup * FlashImage::kMaxLineBytes;

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
    "\r\nUnknown chip ID: \"%s\"%s.\r\n"
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

// " (0x0002FF25)" for the identification "196389"; nothing for a text that
// is not a 32-bit number.
std::string HexOfPartId(const std::string& id) {
    const auto value = ParseDecimal<std::uint32_t>(id);
    return value ? Format(" (0x%08X)", static_cast<unsigned>(*value)) : std::string();
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

RunResult IspProcedure::Run(std::span<const std::uint8_t> image) {
    // abortRequested is not cleared here: the constructor did, and a stop
    // asked for while the port opened must still stop the run.
    progressCount_ = 0;
    progressShown_ = 0;
    SetProgress(0);
    SetProgressMax(0);
    // The whole image is read and checked before the first byte goes to the
    // board, so that a bad file leaves the board with the firmware it has.
    if (!LoadImage(image)) {
        return RunResult::ProgrammingError;
    }
    Log("\r\nEntering Bootloader Mode\r\n");
    image_.SetVectorChecksum();

    learned.verified = false;
    const bool started = Synchronise() && Identify() && CheckImageFits() && Unlock() &&
                         EraseSectors() && WriteBlocks() && (!verify_ || VerifyFlash()) &&
                         StartFirmware();
    SetProgress(progressCount_);
    if (abortRequested) {
        return RunResult::Aborted;
    }
    return started ? RunResult::Success : RunResult::ProgrammingError;
}

bool IspProcedure::LoadImage(std::span<const std::uint8_t> text) {
    const HexLoad load = image_.LoadHex(text);
    if (!load.ok()) {
        if (load.line > 0) {
            Log("Firmware image: line %d: %s", load.line, Describe(load.error));
        } else {
            Log("Firmware image: %s", Describe(load.error));
        }
        return false;
    }
    highestAddress_ = load.highest;
    return true;
}

bool IspProcedure::Synchronise() {
    Log("Attempting baud sync");
    int retries = 0;
    for (;;) {
        Send({"?", kSyncSlices}, Reply::ToProbe);
        const Wait wait = Await(0);
        if (wait == Wait::Stopped) {
            return false;
        }
        if (wait != Wait::Answered) {
            if (retries >= kMaxSyncRetries) {
                Cancel(kSyncError);
                return false;
            }
            ++retries;
        } else if (AnswerStartsWith("Synchronized\r\n")) {
            break;
        } else if (AnswerStartsWith("?")) {
            // An echoed probe: the board is synchronised already, with echo on.
            if (++retries > kMaxSyncRetries) {
                Cancel(kSyncError);
                return false;
            }
            port.waitMs(kEchoedProbePauseMs);
            break;
        } else {
            Cancel(Format("Unexpected response to sync, \"%s\"", response_).c_str());
            return false;
        }
    }
    if (!Exchange({"Synchronized\r\n", kConfirmSyncSlices}, "OK\r\n",
                  {"No response to complete baud sync", "Unable to complete baud sync, ", true}) ||
        !Exchange({Format("%d\r\n", kCrystalKhz), kCrystalSlices}, "OK\r\n",
                  {"No response to crystal speed", "wrong response to crystal: ", true})) {
        return false;
    }
    Log("Baud sync sucessful\r\n");
    return true;
}

bool IspProcedure::Identify() {
    // "0", then the identification in decimal.
    if (!Exchange({"J\r\n", kIdentifySlices, 2}, "0\r\n",
                  {"No response to unlock command", "wrong response to ID: ", true})) {
        return false;
    }
    const char* id = response_ + 3;
    // Both iterators const: some C libraries' strstr returns char*.
    const char* idEnd = std::strstr(id, "\r\n");
    const std::string partId(id, idEnd);
    chip_ = ChipTable::find(partId);
    if (chip_ == nullptr) {
        Cancel(Format(kUnknownChip, partId.c_str(), HexOfPartId(partId).c_str()).c_str());
        return false;
    }
    Log("Found chip: \"%s\"\r\n", chip_->name);
    learned.chip = chip_->name;
    learned.partId = static_cast<std::uint32_t>(std::stoul(partId));
    return true;
}

bool IspProcedure::CheckImageFits() {
    const SectorGeometry last = chip_->sector(chip_->sectorCount - 1);
    const std::int32_t flashBytes = last.start + last.size;
    if (highestAddress_ >= flashBytes) {
        Cancel(Format("Firmware image: highest address 0x%08X does not fit the %d KB flash of "
                      "the %s",
                      static_cast<unsigned>(highestAddress_), flashBytes / 1024, chip_->name)
                   .c_str());
        return false;
    }
    // The bar counts accepted checksum groups and copied blocks: one unit per
    // group of every block that is written.
    const auto blocks = Blocks();
    const auto written =
        std::count_if(blocks.begin(), blocks.end(), [this](const Block& b) { return HasData(b); });
    const std::int32_t groups = (chip_->blockSize + kGroupBytes - 1) / kGroupBytes;
    SetProgressMax(static_cast<int>(written) * groups);
    return true;
}

bool IspProcedure::Unlock() {
    if (!Exchange({"U 23130\r\n", kUnlockSlices}, "0\r\n",
                  {"No response to unlock command", "wrong response unlock: ", true})) {
        return false;
    }
    Log("Device Unlocked\r\n");
    Log("Erasing....\r\n");
    return true;
}

bool IspProcedure::EraseSectors() {
    const Refusal prepare{"No response", "Unable to prep for write"};
    const Refusal erase{"No response", "Unable to erase flash", false, "Error\r\n"};
    for (std::int32_t i = 0; i < chip_->sectorCount; ++i) {
        Log("  Sector %2d: ", i);
        const SectorGeometry sector = chip_->sector(i);
        if (!image_.AnyData(sector.start, sector.start + sector.size - 1)) {
            Log("not used\r\n");
            continue;
        }
        // The loader shows its own vectors at 0x00-0x3F, so sector 0 never
        // reads blank: erase it without asking.
        if (i != 0) {
            const std::optional<bool> blank = SectorIsBlank(i);
            if (!blank) {
                return false;
            }
            if (*blank) {
                Log("already blank\r\n");
                continue;
            }
        }
        const std::string range = Format("%d %d\r\n", i, i);
        if (!Exchange({"P " + range, kPrepareEraseSlices}, "0\r\n", prepare) ||
            !Exchange({"E " + range, kEraseSlices}, "0\r\n", erase)) {
            return false;
        }
        Log("Ok\r\n");
    }
    Log("Programming....\r\n");
    return true;
}

std::optional<bool> IspProcedure::SectorIsBlank(std::int32_t sector) {
    Send({Format("I %d %d\r\n", sector, sector), kBlankCheckSlices});
    Wait wait = Await(1);
    if (wait == Wait::Answered && AnswerStartsWith("0\r\n")) {
        return true;
    }
    if (wait == Wait::Answered) {
        // Code, offset and contents of the first word that is not blank.
        wait = Await(3);
    }
    if (wait == Wait::Stopped) {
        return std::nullopt;
    }
    if (wait != Wait::Answered) {
        Cancel("No response to blank check");
        return std::nullopt;
    }
    return false;
}

bool IspProcedure::WriteBlocks() {
    for (const Block& block : Blocks()) {
        Log("  Sector %2d (0x%08X-0x%08X): ", block.sector, static_cast<unsigned>(block.address),
            static_cast<unsigned>(block.address + chip_->blockSize - 1));
        if (!HasData(block)) {
            Log("not used\r\n");
        } else if (!WriteBlock(block)) {
            return false;
        }
    }
    return true;
}

bool IspProcedure::WriteBlock(const Block& block) {
    const Refusal toRam{"No response", "can't xmit to ram"};
    const Refusal copy{"No response", "Unable to prep for write"};
    // A whole block always goes, bytes without data as 0xFF.
    if (!Exchange({Format("W %d %d\r\n", chip_->ramBuffer, chip_->blockSize), kWriteSlices},
                  "0\r\n", toRam) ||
        !TransferToRam(block.address, chip_->blockSize) ||
        !Exchange({Format("P %d %d\r\n", block.sector, block.sector), kPrepareCopySlices}, "0\r\n",
                  copy) ||
        !Exchange({Format("C %d %d %d\r\n", block.address, chip_->ramBuffer, chip_->blockSize),
                   kCopySlices},
                  "0\r\n", copy)) {
        return false;
    }
    Log("Ok\r\n");
    ++progressCount_;
    return true;
}

bool IspProcedure::TransferToRam(std::int32_t address, std::int32_t count) {
    while (count > 0) {
        // One group: up to 20 lines, then the decimal sum of their bytes.
        std::string group;
        std::vector<std::size_t> lineEnds;
        std::int32_t sum = 0;
        for (int line = 0; line < kLinesPerGroup && count > 0; ++line) {
            const std::int32_t n = std::min<std::int32_t>(FlashImage::kMaxLineBytes, count);
            std::uint8_t bytes[FlashImage::kMaxLineBytes] = {};
            image_.ReadImage(address, n, bytes);
            for (std::int32_t i = 0; i < n; ++i) {
                sum += bytes[i];
            }
            address += n;
            count -= n;
            group += UuencodeLine(bytes, n) + "\r\n";
            lineEnds.push_back(group.size());
        }
        if (!SendGroup(group, lineEnds, Format("%d\r\n", sum))) {
            return false;
        }
        if (count > 0) {
            ++progressCount_;
        }
    }
    return true;
}

bool IspProcedure::SendGroup(const std::string& lines, const std::vector<std::size_t>& lineEnds,
                             const std::string& sumLine) {
    for (int resends = 0;; ++resends) {
        // The lines go out back to back: waiting for each echo would cost a
        // round trip per line, and behind a USB adapter that is its latency
        // timer each time. Echo stays on, so a line the chip heard wrongly
        // still shows; the chip's answer to the sum decides.
        Send({lines + sumLine, kChecksumSlices}, Reply::GroupEcho);
        std::size_t begin = 0;
        for (const std::size_t end : lineEnds) {
            if (abortRequested) {
                return false;
            }
            Write(std::string_view(lines).substr(begin, end - begin));
            begin = end;
            TakeArrived();
        }
        Write(sumLine);
        const Wait wait = Await(1);
        if (wait == Wait::Answered && AnswerStartsWith("RESEND\r\n")) {
            if (resends == kMaxResends) {
                Cancel(
                    Format("bad checksum, also after the group was sent %d times more", kMaxResends)
                        .c_str());
                return false;
            }
            continue;
        }
        return Judge(wait, "OK\r\n", {"No response", "bad checksum"});
    }
}

bool IspProcedure::VerifyFlash() {
    Log("Verifying....\r\n");
    // Consecutive written blocks are read back as one range: one command
    // and one answer fewer per block.
    std::int32_t start = -1;
    std::int32_t end = -1;
    for (const Block& block : Blocks()) {
        if (!HasData(block)) {
            continue;
        }
        if (block.address != end) {
            if (start >= 0 && !VerifyRange(start, end - start)) {
                return false;
            }
            start = std::max(block.address, kBootBlockBytes);
        }
        end = block.address + chip_->blockSize;
    }
    if (start >= 0 && !VerifyRange(start, end - start)) {
        return false;
    }
    Log("Verified\r\n");
    learned.verified = true;
    return true;
}

bool IspProcedure::VerifyRange(std::int32_t address, std::int32_t count) {
    const Refusal noAnswer{"No response", "can't read flash"};
    if (!Exchange({Format("R %d %d\r\n", address, count), kReadSlices}, "0\r\n", noAnswer)) {
        return false;
    }
    // The lines follow the return code at once.
    Send({"", kReadSlices});
    int resends = 0;
    for (std::int32_t done = 0; done < count;) {
        const std::int32_t groupBytes = std::min(kGroupBytes, count - done);
        const int lines = (groupBytes + FlashImage::kMaxLineBytes - 1) / FlashImage::kMaxLineBytes;
        // The least the chip sends for the group: each line's length
        // character, four characters for every three bytes and CR LF, then a
        // sum of one digit.
        answerLeast_ = 3;
        for (std::int32_t left = groupBytes; left > 0; left -= FlashImage::kMaxLineBytes) {
            const std::int32_t n = std::min(left, FlashImage::kMaxLineBytes);
            answerLeast_ += 1 + 4 * ((n + 2) / 3) + 2;
        }
        // Each line of the group, and its sum, gets the whole time-out.
        Wait wait = Wait::Answered;
        for (int line = 1; line <= lines + 1 && wait == Wait::Answered; ++line) {
            timeoutSlices_ = kReadSlices;
            wait = Await(line);
        }
        if (wait != Wait::Answered) {
            return Judge(wait, "", noAnswer);
        }
        std::vector<std::uint8_t> bytes;
        if (!TakeReadGroup(lines, bytes) || static_cast<std::int32_t>(bytes.size()) != groupBytes) {
            if (resends++ == kMaxResends) {
                Cancel(Format("read-back: bad checksum, also after %d more tries", kMaxResends)
                           .c_str());
                return false;
            }
            Send({"RESEND\r\n", kReadSlices});
            continue;
        }
        resends = 0;
        std::vector<std::uint8_t> expected(bytes.size());
        image_.ReadImage(address + done, groupBytes, expected.data());
        const auto [differs, wanted] = std::mismatch(bytes.begin(), bytes.end(), expected.begin());
        if (differs != bytes.end()) {
            const auto at = address + done + static_cast<std::int32_t>(differs - bytes.begin());
            Cancel(Format("Verify failed at 0x%08X: the flash holds 0x%02X, the image 0x%02X",
                          static_cast<unsigned>(at), *differs, *wanted)
                       .c_str());
            return false;
        }
        done += groupBytes;
        // The echo of "OK" comes before the next group; after the last it is
        // all that comes.
        Send({"OK\r\n", kReadSlices}, done < count ? Reply::AfterEcho : Reply::EchoOnly);
    }
    return Judge(Await(0), "", noAnswer);
}

bool IspProcedure::TakeReadGroup(int lines, std::vector<std::uint8_t>& bytes) const {
    const char* p = response_;
    for (int i = 0; i < lines; ++i) {
        const char* lineEnd = std::strstr(p, "\r\n");
        if (!UudecodeLine({p, static_cast<std::size_t>(lineEnd - p)}, bytes)) {
            return false;
        }
        p = lineEnd + 2;
    }
    std::uint32_t sum = 0;
    for (const std::uint8_t b : bytes) {
        sum += b;
    }
    const char* sumEnd = std::strstr(p, "\r\n");
    return sumEnd != nullptr && ParseDecimal<std::uint32_t>(std::string_view(
                                    p, static_cast<std::size_t>(sumEnd - p))) == sum;
}

bool IspProcedure::StartFirmware() {
    Log("Booting (soft jump)...\r\n");
    Log("loading jump code\r\n");
    const auto code = chip_->jumpCode();
    const auto bytes = static_cast<std::int32_t>(4 * code.size());
    if (!Exchange({Format("W %d %d\r\n", chip_->ramBuffer, bytes), kLoadJumpSlices}, "0\r\n",
                  {"No response", "can't xmit to ram"})) {
        return false;
    }
    // The jump program goes out through the image, from address 0.
    for (std::size_t i = 0; i < code.size(); ++i) {
        const std::uint32_t w = code[i];
        const std::uint8_t word[4] = {
            static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8),
            static_cast<std::uint8_t>(w >> 16), static_cast<std::uint8_t>(w >> 24)};
        image_.WriteImage(static_cast<std::int32_t>(4 * i), 4, word);
    }
    if (!TransferToRam(0, bytes)) {
        return false;
    }

    Log("jumping now!\r\n");
    Send({Format("G %d A\r\n", chip_->ramBuffer), kGoSlices});
    const Wait wait = Await(1);
    if (wait == Wait::Stopped) {
        return false;
    }
    // Silence means the jump program runs: it took the loader away. An answer
    // that came with the time-out's last slice is still judged.
    if (wait == Wait::TimedOut || AnswerStartsWith("0\r\n")) {
        return true;
    }
    Log("response = %s", response_);
    Cancel("couldn't run program");
    return false;
}

std::vector<IspProcedure::Block> IspProcedure::Blocks() const {
    std::vector<Block> blocks;
    for (std::int32_t i = 0; i < chip_->sectorCount; ++i) {
        const SectorGeometry sector = chip_->sector(i);
        for (std::int32_t offset = 0; offset < sector.size; offset += chip_->blockSize) {
            blocks.push_back({i, sector.start + offset});
        }
    }
    return blocks;
}

bool IspProcedure::HasData(const Block& block) const {
    return image_.AnyData(block.address, block.address + chip_->blockSize - 1);
}

bool IspProcedure::Exchange(const Command& command, const char* accepted, const Refusal& refusal) {
    Send(command);
    return Judge(Await(command.lines), accepted, refusal);
}

bool IspProcedure::Judge(Wait wait, const char* accepted, const Refusal& refusal) {
    switch (wait) {
        case Wait::Stopped:
            return false;
        case Wait::TimedOut:
        case Wait::AnsweredAtTimeOut:
            Cancel(refusal.noAnswer);
            return false;
        case Wait::Answered:
            break;
    }
    if (AnswerStartsWith(accepted)) {
        return true;
    }
    if (refusal.note != nullptr) {
        Log("%s", refusal.note);
    }
    Cancel(refusal.showAnswer ? (std::string(refusal.refused) + response_).c_str()
                              : refusal.refused);
    return false;
}

void IspProcedure::Send(const Command& command, Reply reply) {
    if (reply != Reply::GroupEcho) {
        Write(command.text);
    }
    reply_ = reply;
    // The probe is the one command the boot loader does not echo.
    echoLength_ =
        reply == Reply::ToProbe
            ? 0
            : static_cast<int>(std::min<std::size_t>(command.text.size(), kBufferSize - 1));
    std::memcpy(echo_, command.text.data(), static_cast<std::size_t>(echoLength_));
    echoPos_ = 0;
    responseEnd_ = 0;
    answerLeast_ = 0;
    lineWaiting_ = false;
    timeoutSlices_ = command.slices;
}

void IspProcedure::Write(std::string_view bytes) {
    port.write(reinterpret_cast<const std::uint8_t*>(bytes.data()),
               static_cast<std::uint16_t>(bytes.size()));
}

IspProcedure::Wait IspProcedure::Await(int lines) {
    for (;;) {
        // Each report is a hand-over to the front end: only a change goes.
        if (progressCount_ != progressShown_) {
            progressShown_ = progressCount_;
            SetProgress(progressCount_);
        }
        if (abortRequested) {
            return Wait::Stopped;
        }
        const bool complete = std::exchange(lineWaiting_, false) || ReadSlice();
        const bool answered = complete && LineCount() >= lines;
        if (timeoutSlices_ > 0 && --timeoutSlices_ == 0) {
            echoPos_ = -1;
            return answered ? Wait::AnsweredAtTimeOut : Wait::TimedOut;
        }
        if (answered) {
            return Wait::Answered;
        }
    }
}

void IspProcedure::TakeArrived() {
    while (!lineWaiting_) {
        if (inboxPos_ == inboxEnd_) {
            inboxPos_ = 0;
            inboxEnd_ = port.readAvailable(inbox_, sizeof inbox_);
            if (inboxEnd_ == 0) {
                return;
            }
        }
        lineWaiting_ = FeedInbox();
    }
}

bool IspProcedure::ReadSlice() {
    if (FeedInbox()) {
        return true;
    }
    // A slice ends early when a line of the answer is complete.
    const std::uint32_t sliceEnd = port.tickMs() + kSliceMs;
    for (unsigned left = kSliceMs; left > 0; left = port.msUntil(sliceEnd)) {
        inboxPos_ = 0;
        inboxEnd_ = port.readWithin(inbox_, sizeof inbox_, left);
        if (FeedInbox()) {
            return true;
        }
        if (inboxEnd_ > 0 && inboxEnd_ < static_cast<int>(sizeof inbox_)) {
            AwaitRestOfAnswer(port.msUntil(sliceEnd));
        }
    }
    return false;
}

void IspProcedure::AwaitRestOfAnswer(unsigned limitMs) {
    if (port.baudRate() <= 0) {
        return;
    }
    // The read took all there was, and what is still to come cannot come
    // faster than the line carries it (ten bits a character at the least).
    // Waking for every few characters of a long echo or answer costs the
    // host far more than the one sleep does; the sleep ends no later than
    // the last of those characters can have arrived, so the run is not slowed.
    const int echoLeft = echoPos_ >= 0 ? echoLength_ - echoPos_ : 0;
    const auto pending =
        static_cast<std::uint64_t>(echoLeft + std::max(0, answerLeast_ - responseEnd_));
    const auto earliestMs = pending * 10 * 1000 / static_cast<std::uint64_t>(port.baudRate());
    if (earliestMs > 1) {
        port.sleepMs(static_cast<unsigned>(std::min<std::uint64_t>(earliestMs, limitMs)));
    }
}

bool IspProcedure::FeedInbox() {
    while (inboxPos_ < inboxEnd_) {
        if (Feed(inbox_[inboxPos_++])) {
            return true;
        }
    }
    return false;
}

bool IspProcedure::Feed(std::uint8_t byte) {
    if (echoPos_ < 0) {
        return false;
    }
    if (responseEnd_ >= kBufferSize - 1) {
        // More than the dialogue ever expects without a command: take
        // nothing more, so the command runs into its time-out.
        echoPos_ = -1;
        return false;
    }
    if (reply_ == Reply::ToProbe && byte == '?') {
        // An echoed probe.
        response_[responseEnd_++] = '?';
        response_[responseEnd_] = '\0';
        timeoutSlices_ = 0;
        return true;
    }
    if (echoPos_ < echoLength_) {
        if (static_cast<char>(byte) == echo_[echoPos_]) {
            ++echoPos_;
            return reply_ == Reply::EchoOnly && echoPos_ == echoLength_;
        }
        if (reply_ != Reply::GroupEcho) {
            echoPos_ = -1;
            return false;
        }
        // A character of the group was lost or garbled on one way or the
        // other; only the chip's answer to the sum tells which. Skip to it.
        echoPos_ = echoLength_;
        reply_ = Reply::GroupAnswer;
    }
    response_[responseEnd_++] = static_cast<char>(byte);
    response_[responseEnd_] = '\0';
    const bool lineDone = responseEnd_ >= 2 && response_[responseEnd_ - 2] == '\r' &&
                          response_[responseEnd_ - 1] == '\n';
    if (lineDone && reply_ == Reply::GroupAnswer && std::strcmp(response_, "OK\r\n") != 0 &&
        std::strcmp(response_, "RESEND\r\n") != 0) {
        // The rest of a garbled echo.
        responseEnd_ = 0;
        response_[0] = '\0';
        return false;
    }
    return lineDone;
}

int IspProcedure::LineCount() const {
    int lines = 0;
    for (const char* p = response_; (p = std::strstr(p, "\r\n")) != nullptr; p += 2) {
        ++lines;
    }
    return lines;
}

bool IspProcedure::AnswerStartsWith(const char* line) const {
    return std::strncmp(response_, line, std::strlen(line)) == 0;
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
    Status("%s", std::string(text + begin, end - begin).c_str());
}

void IspProcedure::Cancel(const char* message) {
    Log("\r\nDownload Canceled");
    // A message that opens with a blank line still shows its first words.
    message += std::strspn(message, "\r\n");
    if (*message != '\0') {
        Log(": %s", message);
    }
    Log("\r\n");
}

}  // namespace korvel
