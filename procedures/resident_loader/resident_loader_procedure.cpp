#include "procedures/resident_loader/resident_loader_procedure.h"

#include <algorithm>
#include <array>
#include <climits>

#include "procedures/fault_reasons.h"
#include "serial/deadline.h"
#include "util/byte_order.h"

namespace korvel {

namespace {

// Progress positions are ints; an image near 2 GB must not overflow them.
int ProgressValue(std::uint64_t value) {
    return static_cast<int>(std::min<std::uint64_t>(value, INT_MAX));
}

// What to look at when the loader is silent: at the first request the
// board may not run its loader at all; later it stopped answering.
constexpr const char* kCheckLoaderStart =
    "is the board powered, its cable connected and its resident loader running?";
constexpr const char* kCheckLoader = "check the board's power and cable, then start again";

}  // namespace

ResidentLoaderProcedure::ResidentLoaderProcedure(int portNumber, std::uint8_t lineFlags,
                                                 int baudRate)
    : port(portNumber, baudRate, lineFlags) {
    Clear();
}

ResidentLoaderProcedure::ResidentLoaderProcedure(std::unique_ptr<SerialDevice> device,
                                                 std::uint8_t lineFlags, int baudRate)
    : port(std::move(device), baudRate, lineFlags) {
    Clear();
}

bool ResidentLoaderProcedure::request(LoaderCommand command,
                                      std::span<const std::uint8_t> payload) {
    const std::vector<std::uint8_t> frame = BuildLoaderFrame(command, payload);
    port.write(frame.data(), static_cast<std::uint16_t>(frame.size()));
    return awaitReply();
}

bool ResidentLoaderProcedure::awaitReply() {
    LoaderReplyParser parser;
    heardCount_ = 0;
    const Deadline limit(port, kFirstByteTimeoutMs + kLongestFrameMs);
    Deadline wait(port, kFirstByteTimeoutMs);
    while (!parser.complete() && !wait.passed()) {
        std::uint8_t byte = 0;
        if (port.readWithin(&byte, 1, wait.remainingMs()) == 1) {
            wait.restart(kInterByteTimeoutMs);
            wait.capAt(limit);
            if (heardCount_ < kHeardKept) {
                heard_[heardCount_] = byte;
            }
            ++heardCount_;
            parser.feed(byte);
        }
    }
    return parser.complete();
}

bool ResidentLoaderProcedure::unanswered(const std::string& what, const char* check) {
    if (heardCount_ == 0) {
        Fail(RunResult::ProgrammingError, FaultReason(Fault::NoAnswer, {what, check}));
        return false;
    }
    const std::size_t kept = std::min(heardCount_, kHeardKept);
    const std::string answer = EscapedAnswer(std::span(heard_).first(kept)) +
                               (heardCount_ > kept ? "..." : "") + ", no valid frame";
    Fail(RunResult::ProgrammingError, FaultReason(Fault::Garbled, {what, answer}));
    return false;
}

bool ResidentLoaderProcedure::writeBlock(LoaderCommand command, std::uint32_t address,
                                         std::span<const std::uint8_t> image,
                                         std::uint64_t offset) {
    std::array<std::uint8_t, 4 + kBlockSize> payload;
    PutBigEndian32(payload.data(), address);
    auto data = std::span(payload).subspan(4);
    std::fill(data.begin(), data.end(), kFill);
    if (offset < image.size()) {
        const std::size_t n = std::min<std::size_t>(kBlockSize, image.size() - offset);
        std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), n, data.begin());
    }
    return request(command, payload);
}

RunResult ResidentLoaderProcedure::Run(std::span<const std::uint8_t> image, Addressing addressing) {
    SetProgress(0);
    SetProgressMax(ProgressValue(image.size()));
    Status(StatusId::Connecting);
    const bool programmed =
        connect() &&
        (addressing == Addressing::ByOffset ? prepare() : eraseSectors(image.size())) &&
        writeBlocks(image, addressing) && restart();
    if (abortRequested) {
        return RunResult::Aborted;
    }
    return programmed ? RunResult::Success : RunResult::ProgrammingError;
}

bool ResidentLoaderProcedure::endPhase(bool succeeded) {
    port.waitMs(kPhasePauseMs);
    return succeeded && !abortRequested;
}

bool ResidentLoaderProcedure::connect() {
    return endPhase(request(LoaderCommand::LoaderConnect) ||
                    unanswered("the connect request", kCheckLoaderStart));
}

bool ResidentLoaderProcedure::prepare() {
    Status(StatusId::Connected);
    return endPhase(request(LoaderCommand::LoaderPrepare) ||
                    unanswered("the prepare request", kCheckLoader));
}

bool ResidentLoaderProcedure::eraseSectors(std::uint64_t count) {
    // At least one sector, even for an empty image.
    std::uint64_t offset = 0;
    do {
        Status(StatusId::Connected);
        const auto address = static_cast<std::uint32_t>(kImageBase + offset);
        std::array<std::uint8_t, 4> sector;
        PutBigEndian32(sector.data(), address);
        if (!request(LoaderCommand::LoaderEraseSector, sector)) {
            return endPhase(
                unanswered("the erase of the sector at " + Hex32(address), kCheckLoader));
        }
        SetProgress(ProgressValue(offset));
        offset += kSectorSize;
        if (!endPhase(true)) {
            return false;
        }
    } while (offset < count);
    return true;
}

bool ResidentLoaderProcedure::writeBlocks(std::span<const std::uint8_t> image,
                                          Addressing addressing) {
    const bool byOffset = addressing == Addressing::ByOffset;
    const std::uint64_t count = image.size();
    for (std::uint64_t offset = 0;; offset += kBlockSize) {
        Status(StatusId::Programming);
        const auto address = static_cast<std::uint32_t>(byOffset ? offset : kImageBase + offset);
        if (!writeBlock(
                byOffset ? LoaderCommand::LoaderWriteAtOffset : LoaderCommand::LoaderWriteAtAddress,
                address, image, offset)) {
            return endPhase(unanswered(
                (byOffset ? "the block write at offset " : "the block write at ") + Hex32(address),
                kCheckLoader));
        }
        learned.bytesWritten = std::min<std::uint64_t>(offset + kBlockSize, count);
        // By offset the block that starts past the count is the last one sent
        // and the bar shows where a block began; by address the bar shows
        // where it ended.
        const bool last = byOffset ? offset > count : offset + kBlockSize >= count;
        SetProgress(ProgressValue(byOffset ? offset : offset + kBlockSize));
        if (!endPhase(true)) {
            return false;
        }
        if (last) {
            return true;
        }
    }
}

bool ResidentLoaderProcedure::restart() {
    Status(StatusId::Reboot);
    // The loader is leaving; whether it answered does not matter.
    request(LoaderCommand::LoaderRestart);
    return endPhase(true);
}

}  // namespace korvel
