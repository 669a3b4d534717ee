#include "sim/lpc_board.h"

#include <algorithm>
#include <sstream>

#include "util/decimal.h"

namespace korvel::sim {

namespace {

// Return codes of the ISP command handler.
enum Code : int {
    kSuccess = 0,
    kInvalidCommand = 1,
    kSrcAddrError = 2,
    kDstAddrError = 3,
    kSrcAddrNotMapped = 4,
    kDstAddrNotMapped = 5,
    kCountError = 6,
    kInvalidSector = 7,
    kSectorNotBlank = 8,
    kSectorNotPrepared = 9,
    kCompareError = 10,
    kBusy = 11,
    kParamError = 12,
    kAddrError = 13,
    kAddrNotMapped = 14,
    kCmdLocked = 15,
    kInvalidCode = 16,
};

constexpr std::uint32_t kUnlockCode = 23130;
constexpr int kLinesPerGroup = 20;
constexpr std::uint8_t kErased = 0xFF;
// Where the weak-cell fault hides in the first block copied.
constexpr std::uint32_t kWeakCellOffset = 0x100;
constexpr std::uint32_t kMaxLineBytes = 45;
// The loader's own RAM, which "W" may not overwrite (the manuals only warn;
// refusing it makes a host that writes there fail loudly).
constexpr std::uint32_t kLoaderRamFirst = 0x40000120;
constexpr std::uint32_t kLoaderRamLast = 0x400001FF;
// While the loader runs, the boot block's vectors hide 0x00-0x3F of flash.
constexpr std::uint32_t kBootVectorBytes = 64;
constexpr std::uint32_t kBootVectorWord = 0xE59FF018;  // LDR pc, [pc, #24]
// The model keeps at most this many characters of a line; more are echoed
// but dropped (the manuals give no figure).
constexpr std::size_t kLineCapacity = 128;
// An LPC2000 part that no host table lists, for the unknown-id fault.
constexpr std::uint32_t kUnlistedPartId = 0x0201FF01;
// What a host sees when the auto-baud locked onto a wrong rate.
constexpr const char* kLineNoise = "~\x86x\xF8\r\n";

constexpr struct {
    LpcFault fault;
    const char* name;
} kFaultNames[] = {
    {LpcFault::Silent, "silent"},
    {LpcFault::NoEcho, "no-echo"},
    {LpcFault::UnknownId, "unknown-id"},
    {LpcFault::RefuseUnlock, "refuse-unlock"},
    {LpcFault::RefuseErase, "refuse-erase"},
    {LpcFault::ResendOnce, "resend-once"},
    {LpcFault::ResendAlways, "resend-always"},
    {LpcFault::DropByte, "drop-byte"},
    {LpcFault::GarbleEcho, "garble-echo"},
    {LpcFault::EchoProbe, "echo-probe"},
    {LpcFault::SyncGarbage, "sync-garbage"},
    {LpcFault::GoSilent, "go-silent"},
    {LpcFault::GoError, "go-error"},
    {LpcFault::WeakCell, "weak-cell"},
    {LpcFault::ReadNoise, "read-noise"},
    {LpcFault::StoppedTransfer, "stopped-transfer"},
};

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; in >> w;) {
        words.push_back(w);
    }
    return words;
}

// What "W" and "R" both require: an address and a count, the address word
// aligned, the count a multiple of 4 above 0.
int CheckTransfer(const std::vector<std::uint32_t>& args) {
    if (args.size() != 2) {
        return kParamError;
    }
    if (args[0] % 4 != 0) {
        return kAddrError;
    }
    if (args[1] == 0 || args[1] % 4 != 0) {
        return kCountError;
    }
    return kSuccess;
}

char Uuencode(std::uint32_t v) {
    v &= 0x3F;
    return v == 0 ? '`' : static_cast<char>(v + 0x20);
}

std::uint32_t Uudecode(char c) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) - 0x20) & 0x3F;
}

}  // namespace

std::optional<LpcFault> ParseLpcFault(std::string_view name) {
    for (const auto& f : kFaultNames) {
        if (name == f.name) {
            return f.fault;
        }
    }
    return std::nullopt;
}

const std::string& LpcFaultNames() {
    static const std::string names = [] {
        std::string text;
        for (const auto& f : kFaultNames) {
            text += (text.empty() ? "" : " ") + std::string(f.name);
        }
        return text;
    }();
    return names;
}

LpcBoard::LpcBoard(const LpcPart& part, Options options)
    : part_(part),
      options_(std::move(options)),
      sectorSizes_(part.sectorSizes()),
      flash_(part.flashBytes(), kErased),
      ram_(part.ramBytes, 0),
      prepared_(sectorSizes_.size(), false) {
    std::copy_n(options_.flash.begin(), std::min(options_.flash.size(), flash_.size()),
                flash_.begin());
    if (has(LpcFault::EchoProbe)) {
        // A board an earlier session left in command mode with echo on.
        mode_ = Mode::Command;
    }
    if (has(LpcFault::StoppedTransfer)) {
        // "W" of one 4 KB block to the RAM buffer, stopped after two lines.
        constexpr std::uint32_t kBlockBytes = 4096;
        constexpr int kLinesTaken = 2;
        mode_ = Mode::DataIn;
        unlocked_ = true;
        groupAddress_ = kLoaderRamLast + 1;
        groupRemaining_ = kBlockBytes;
        writeAddress_ = groupAddress_ + kLinesTaken * kMaxLineBytes;
        writeRemaining_ = kBlockBytes - kLinesTaken * kMaxLineBytes;
        groupLines_ = kLinesTaken;
    }
}

LpcBoard::LpcBoard(const LpcPart& part) : LpcBoard(part, Options{}) {}

bool LpcBoard::vectorsValid() const {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < 32 && i + 3 < flash_.size(); i += 4) {
        sum += static_cast<std::uint32_t>(flash_[i]) |
               static_cast<std::uint32_t>(flash_[i + 1]) << 8 |
               static_cast<std::uint32_t>(flash_[i + 2]) << 16 |
               static_cast<std::uint32_t>(flash_[i + 3]) << 24;
    }
    return sum == 0;
}

void LpcBoard::onByte(VirtualNs at, std::uint8_t byte) {
    if (has(LpcFault::Silent)) {
        return;
    }
    if (at < busyUntil_) {
        // While the flash is busy the UART holds what arrives in its FIFO and
        // the CPU reads it when the flash is done; what does not fit is lost.
        if (heldBytes_ >= kUartFifo) {
            ++overrunBytes_;
            return;
        }
        ++heldBytes_;
        receive(busyUntil_, byte);
        return;
    }
    receive(at, byte);
}

void LpcBoard::receive(VirtualNs at, std::uint8_t byte) {
    switch (mode_) {
        case Mode::Started:
            return;
        case Mode::AwaitProbe:
            // Auto-baud measures the "?"; anything else is not a character yet.
            if (byte == '?') {
                transmitText(at, has(LpcFault::SyncGarbage) ? kLineNoise : "Synchronized\r\n");
                if (!has(LpcFault::SyncGarbage)) {
                    mode_ = Mode::AwaitSyncLine;
                    line_.clear();
                }
            }
            return;
        default:
            break;
    }
    if (has(LpcFault::DropByte) && mode_ == Mode::DataIn && firstDataLine_ && !byteDropped_ &&
        line_.size() == 9) {
        byteDropped_ = true;
        return;
    }
    if (echo_ && !has(LpcFault::NoEcho)) {
        std::uint8_t echoed = byte;
        if (has(LpcFault::GarbleEcho) && mode_ == Mode::DataIn && firstDataLine_ && !echoGarbled_ &&
            line_.size() == 9) {
            echoGarbled_ = true;
            echoed ^= 0x04;
        }
        transmit(at, {echoed});
    }
    if (byte == '\n') {
        std::string line = line_;
        line_.clear();
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lineDone(at, line);
    } else if (line_.size() < kLineCapacity) {
        line_.push_back(static_cast<char>(byte));
    }
}

void LpcBoard::lineDone(VirtualNs at, const std::string& line) {
    switch (mode_) {
        case Mode::AwaitSyncLine:
            if (line == "Synchronized") {
                transmitText(at, "OK\r\n");
                mode_ = Mode::AwaitCrystal;
            } else {
                mode_ = Mode::AwaitProbe;
            }
            break;
        case Mode::AwaitCrystal: {
            // The crystal in kHz; the manuals do not say what a bad value
            // does: the model goes back to waiting for "?".
            if (const auto khz = ParseDecimal<std::uint32_t>(line); khz && *khz > 0) {
                transmitText(at, "OK\r\n");
                mode_ = Mode::Command;
            } else {
                mode_ = Mode::AwaitProbe;
            }
            break;
        }
        case Mode::Command:
            execute(at, line);
            break;
        case Mode::DataIn:
            dataLine(at, line);
            break;
        case Mode::DataOut:
            readAnswer(at, line);
            break;
        default:
            break;
    }
}

void LpcBoard::answer(VirtualNs at, int code) {
    transmitText(std::max(at, busyUntil_), std::to_string(code) + "\r\n");
}

void LpcBoard::execute(VirtualNs at, const std::string& line) {
    commands_.push_back(line);
    const std::vector<std::string> words = Words(line);
    if (words.empty() || words[0].size() != 1) {
        answer(at, kInvalidCommand);
        return;
    }
    // Every argument but the mode of "G" is decimal.
    std::vector<std::uint32_t> args;
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (const auto v = ParseDecimal<std::uint32_t>(words[i])) {
            args.push_back(*v);
        } else if (!(words[0] == "G" && i == 2)) {
            answer(at, kParamError);
            return;
        }
    }
    switch (words[0][0]) {
        case 'U':
            answer(at, unlock(args));
            break;
        case 'J':
            transmitText(
                at, "0\r\n" +
                        std::to_string(has(LpcFault::UnknownId) ? kUnlistedPartId : part_.partId) +
                        "\r\n");
            break;
        case 'K':
            // The manuals give the version as <byte1 (major)>.<byte0 (minor)>
            // and list byte0 first; the model sends the lines in that order.
            transmitText(at, "0\r\n" + std::to_string(options_.bootCodeMinor) + "\r\n" +
                                 std::to_string(options_.bootCodeMajor) + "\r\n");
            break;
        case 'M': {
            std::uint32_t offset = 0;
            const int code = compare(args, offset);
            transmitText(at, std::to_string(code) + "\r\n" +
                                 (code == kCompareError ? std::to_string(offset) + "\r\n" : ""));
            break;
        }
        case 'A':
            if (args.size() == 1 && args[0] <= 1) {
                echo_ = args[0] == 1;
                answer(at, kSuccess);
            } else {
                answer(at, kParamError);
            }
            break;
        case 'P':
            answer(at, prepare(args));
            break;
        case 'E':
            answer(at, erase(at, args));
            break;
        case 'I': {
            std::string extra;
            const int code = blankCheck(args, extra);
            transmitText(at, std::to_string(code) + "\r\n" + extra);
            break;
        }
        case 'W': {
            const int code = writeToRam(args);
            answer(at, code);
            if (code == kSuccess) {
                mode_ = Mode::DataIn;
            }
            break;
        }
        case 'C':
            answer(at, copyToFlash(at, args));
            break;
        case 'R': {
            const int code = readMemory(args);
            answer(at, code);
            if (code == kSuccess) {
                mode_ = Mode::DataOut;
                sendReadGroup(at);
            }
            break;
        }
        case 'G': {
            const int code = go(words, args);
            if (code != kSuccess) {
                answer(at, code);
                break;
            }
            if (!has(LpcFault::GoSilent)) {
                answer(at, kSuccess);
            }
            mode_ = Mode::Started;
            if (args[0] >= kRamBase && words[2] == "A") {
                started_ = RunRamProgram(ram_, kRamBase, args[0]);
            } else {
                // Only ARM code in RAM is followed; anything else just runs.
                started_ = RamProgramOutcome{};
                started_->fault = "not followed: " + line;
            }
            if (onStarted) {
                onStarted();
            }
            break;
        }
        default:
            answer(at, kInvalidCommand);
            break;
    }
}

int LpcBoard::unlock(const std::vector<std::uint32_t>& args) {
    if (args.size() != 1) {
        return kParamError;
    }
    if (args[0] != kUnlockCode || has(LpcFault::RefuseUnlock)) {
        return kInvalidCode;
    }
    unlocked_ = true;
    return kSuccess;
}

bool LpcBoard::validSectors(std::uint32_t first, std::uint32_t last) const {
    return first <= last && last < sectorSizes_.size();
}

std::uint32_t LpcBoard::sectorStart(std::uint32_t sector) const {
    std::uint32_t start = 0;
    for (std::uint32_t i = 0; i < sector && i < sectorSizes_.size(); ++i) {
        start += sectorSizes_[i];
    }
    return start;
}

std::uint32_t LpcBoard::sectorOf(std::uint32_t address) const {
    std::uint32_t start = 0;
    for (std::uint32_t i = 0; i < sectorSizes_.size(); ++i) {
        if (address < start + sectorSizes_[i]) {
            return i;
        }
        start += sectorSizes_[i];
    }
    return static_cast<std::uint32_t>(sectorSizes_.size());
}

int LpcBoard::prepare(const std::vector<std::uint32_t>& args) {
    if (args.size() != 2) {
        return kParamError;
    }
    if (!validSectors(args[0], args[1])) {
        return kInvalidSector;
    }
    for (std::uint32_t s = args[0]; s <= args[1]; ++s) {
        prepared_[s] = true;
    }
    return kSuccess;
}

void LpcBoard::busyFor(VirtualNs at, VirtualNs duration) {
    if (options_.flashTiming) {
        flashBusyNs_ += duration;
        busyUntil_ = at + duration;
        heldBytes_ = 0;
    }
}

int LpcBoard::erase(VirtualNs at, const std::vector<std::uint32_t>& args) {
    if (args.size() != 2) {
        return kParamError;
    }
    if (!unlocked_) {
        return kCmdLocked;
    }
    if (!validSectors(args[0], args[1])) {
        return kInvalidSector;
    }
    for (std::uint32_t s = args[0]; s <= args[1]; ++s) {
        if (!prepared_[s]) {
            return kSectorNotPrepared;
        }
    }
    if (has(LpcFault::RefuseErase)) {
        return kBusy;
    }
    const std::uint32_t first = sectorStart(args[0]);
    const std::uint32_t end = sectorStart(args[1] + 1);
    std::fill(flash_.begin() + first, flash_.begin() + end, kErased);
    std::fill(prepared_.begin(), prepared_.end(), false);
    // One erase takes the same time for one sector or many.
    busyFor(at, kEraseNs);
    return kSuccess;
}

int LpcBoard::blankCheck(const std::vector<std::uint32_t>& args, std::string& extra) {
    if (args.size() != 2) {
        return kParamError;
    }
    if (!validSectors(args[0], args[1])) {
        return kInvalidSector;
    }
    const std::uint32_t first = sectorStart(args[0]);
    const std::uint32_t end = sectorStart(args[1] + 1);
    for (std::uint32_t a = first; a < end; a += 4) {
        // As the loader reads the flash: the boot block shows at its start.
        std::uint32_t word = 0;
        for (int b = 3; b >= 0; --b) {
            word = word << 8 | memoryByte(a + static_cast<std::uint32_t>(b));
        }
        if (word != 0xFFFFFFFF) {
            // The offset counts from the start of the first sector checked.
            extra = std::to_string(a - first) + "\r\n" + std::to_string(word) + "\r\n";
            return kSectorNotBlank;
        }
    }
    return kSuccess;
}

int LpcBoard::writeToRam(const std::vector<std::uint32_t>& args) {
    if (const int code = CheckTransfer(args); code != kSuccess) {
        return code;
    }
    const std::uint32_t address = args[0];
    const std::uint32_t count = args[1];
    const std::uint64_t end = static_cast<std::uint64_t>(address) + count;
    if (address < kRamBase || end > kRamBase + static_cast<std::uint64_t>(ram_.size()) ||
        (address <= kLoaderRamLast && end > kLoaderRamFirst)) {
        return kAddrNotMapped;
    }
    writeAddress_ = groupAddress_ = address;
    writeRemaining_ = groupRemaining_ = count;
    groupLines_ = 0;
    groupSum_ = 0;
    return kSuccess;
}

void LpcBoard::dataLine(VirtualNs at, const std::string& line) {
    if (groupLines_ == kLinesPerGroup || writeRemaining_ == 0) {
        // The decimal sum of the group's bytes.
        const auto sum = ParseDecimal<std::uint32_t>(line);
        bool ok = sum && *sum == groupSum_;
        if (ok && has(LpcFault::ResendOnce) && !resendDone_) {
            resendDone_ = true;
            ok = false;
        }
        ok = ok && !has(LpcFault::ResendAlways);
        groupLines_ = 0;
        groupSum_ = 0;
        if (ok) {
            transmitText(at, "OK\r\n");
            groupAddress_ = writeAddress_;
            groupRemaining_ = writeRemaining_;
            if (writeRemaining_ == 0) {
                mode_ = Mode::Command;
            }
        } else {
            ++resends_;
            transmitText(at, "RESEND\r\n");
            writeAddress_ = groupAddress_;
            writeRemaining_ = groupRemaining_;
        }
        return;
    }
    ++dataLines_;
    firstDataLine_ = false;
    const std::uint32_t n = line.empty() ? 0 : Uudecode(line[0]);
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 1; bytes.size() < n; i += 4) {
        // Characters missing from a short line count as 0.
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            v = v << 6 | (i + k < line.size() ? Uudecode(line[i + k]) : 0);
        }
        bytes.push_back(static_cast<std::uint8_t>(v >> 16));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
        bytes.push_back(static_cast<std::uint8_t>(v));
    }
    const std::uint32_t take = std::min(n, writeRemaining_);
    for (std::uint32_t i = 0; i < take; ++i) {
        ram_[writeAddress_ - kRamBase + i] = bytes[i];
        groupSum_ += bytes[i];
    }
    writeAddress_ += take;
    writeRemaining_ -= take;
    ++groupLines_;
}

std::uint8_t LpcBoard::memoryByte(std::uint32_t address) const {
    if (address < kBootVectorBytes) {
        return static_cast<std::uint8_t>(kBootVectorWord >> (8 * (address % 4)));
    }
    if (address < flash_.size()) {
        return flash_[address];
    }
    return ram_[address - kRamBase];
}

int LpcBoard::readMemory(const std::vector<std::uint32_t>& args) {
    if (const int code = CheckTransfer(args); code != kSuccess) {
        return code;
    }
    const std::uint32_t address = args[0];
    const std::uint32_t count = args[1];
    const std::uint64_t end = static_cast<std::uint64_t>(address) + count;
    const bool inFlash = end <= flash_.size();
    const bool inRam =
        address >= kRamBase && end <= kRamBase + static_cast<std::uint64_t>(ram_.size());
    if (!inFlash && !inRam) {
        return kAddrNotMapped;
    }
    readAddress_ = address;
    readRemaining_ = count;
    return kSuccess;
}

void LpcBoard::sendReadGroup(VirtualNs at) {
    // Like a write: lines of up to 45 bytes, the sum after every 20 lines
    // and after the last.
    readGroupBytes_ = std::min(readRemaining_, kLinesPerGroup * kMaxLineBytes);
    std::string text;
    std::uint32_t sum = 0;
    for (std::uint32_t done = 0; done < readGroupBytes_;) {
        const std::uint32_t n = std::min(kMaxLineBytes, readGroupBytes_ - done);
        text.push_back(Uuencode(n));
        for (std::uint32_t i = 0; i < n; i += 3) {
            std::uint32_t v = 0;
            for (std::uint32_t k = 0; k < 3; ++k) {
                const std::uint8_t b =
                    i + k < n ? memoryByte(readAddress_ + done + i + k) : std::uint8_t{0};
                sum += i + k < n ? b : 0;
                v = v << 8 | b;
            }
            for (int shift = 18; shift >= 0; shift -= 6) {
                text.push_back(Uuencode(v >> shift));
            }
        }
        text += "\r\n";
        done += n;
    }
    if (has(LpcFault::ReadNoise) && !readNoiseDone_) {
        readNoiseDone_ = true;
        ++sum;
    }
    transmitText(at, text + std::to_string(sum) + "\r\n");
}

void LpcBoard::readAnswer(VirtualNs at, const std::string& line) {
    if (line == "OK") {
        readAddress_ += readGroupBytes_;
        readRemaining_ -= readGroupBytes_;
        if (readRemaining_ == 0) {
            mode_ = Mode::Command;
            return;
        }
    } else if (line != "RESEND") {
        // The manuals do not say; the model ends the read.
        mode_ = Mode::Command;
        return;
    }
    sendReadGroup(at);
}

int LpcBoard::compare(const std::vector<std::uint32_t>& args, std::uint32_t& offset) const {
    if (args.size() != 3) {
        return kParamError;
    }
    if (args[0] % 4 != 0) {
        return kSrcAddrError;
    }
    if (args[1] % 4 != 0) {
        return kDstAddrError;
    }
    if (args[2] % 4 != 0) {
        return kCountError;
    }
    const auto mapped = [this](std::uint32_t address, std::uint32_t count) {
        const std::uint64_t end = static_cast<std::uint64_t>(address) + count;
        return end <= flash_.size() ||
               (address >= kRamBase && end <= kRamBase + static_cast<std::uint64_t>(ram_.size()));
    };
    if (!mapped(args[0], args[2])) {
        return kSrcAddrNotMapped;
    }
    if (!mapped(args[1], args[2])) {
        return kDstAddrNotMapped;
    }
    // The offset of the first byte that differs, from the given addresses
    // (the manuals do not say whether it is rounded to a word; it is not).
    // Like a read, it sees the boot block over the first 64 bytes.
    for (std::uint32_t i = 0; i < args[2]; ++i) {
        if (memoryByte(args[0] + i) != memoryByte(args[1] + i)) {
            offset = i;
            return kCompareError;
        }
    }
    return kSuccess;
}

int LpcBoard::copyToFlash(VirtualNs at, const std::vector<std::uint32_t>& args) {
    if (args.size() != 3) {
        return kParamError;
    }
    if (!unlocked_) {
        return kCmdLocked;
    }
    const std::uint32_t dst = args[0];
    const std::uint32_t src = args[1];
    const std::uint32_t count = args[2];
    const bool page512 = part_.family == LpcFlashFamily::Page512;
    if (src % 4 != 0) {
        return kSrcAddrError;
    }
    if (dst % (page512 ? 512 : 256) != 0) {
        return kDstAddrError;
    }
    const bool countOk = page512 ? (count == 512 || count == 1024 || count == 4096 || count == 8192)
                                 : (count == 256 || count == 512 || count == 1024 || count == 4096);
    if (!countOk) {
        return kCountError;
    }
    if (src < kRamBase || static_cast<std::uint64_t>(src) + count > kRamBase + ram_.size()) {
        return kSrcAddrNotMapped;
    }
    if (static_cast<std::uint64_t>(dst) + count > flash_.size()) {
        return kDstAddrNotMapped;
    }
    for (std::uint32_t s = sectorOf(dst); s <= sectorOf(dst + count - 1); ++s) {
        if (!prepared_[s]) {
            return kSectorNotPrepared;
        }
    }
    // Programming can only clear bits.
    for (std::uint32_t i = 0; i < count; ++i) {
        flash_[dst + i] &= ram_[src - kRamBase + i];
    }
    if (has(LpcFault::WeakCell) && !cellWeakened_) {
        cellWeakened_ = true;
        flash_[dst + kWeakCellOffset] = kErased;
    }
    std::fill(prepared_.begin(), prepared_.end(), false);
    busyFor(at, count / (page512 ? 512 : 256) * kMs);
    return kSuccess;
}

int LpcBoard::go(const std::vector<std::string>& words, const std::vector<std::uint32_t>& args) {
    if (args.size() != 1 || words.size() != 3 || (words[2] != "A" && words[2] != "T")) {
        return kParamError;
    }
    if (!unlocked_) {
        return kCmdLocked;
    }
    const std::uint32_t address = args[0];
    const bool inRam = address >= kRamBase && address - kRamBase < ram_.size();
    if (!inRam && address >= flash_.size()) {
        return kAddrNotMapped;
    }
    if (address % (words[2] == "A" ? 4 : 2) != 0 || has(LpcFault::GoError)) {
        return kAddrError;
    }
    return kSuccess;
}

}  // namespace korvel::sim
