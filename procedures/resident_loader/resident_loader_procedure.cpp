#include "procedures/resident_loader/resident_loader_procedure.h"

#include <algorithm>
#include <array>
#include <climits>

#include "util/byte_order.h"

namespace korvel {

namespace {

// Progress positions are ints; an image near 2 GB must not overflow them.
int ProgressValue(std::uint64_t value) {
    return static_cast<int>(std::min<std::uint64_t>(value, INT_MAX));
}

// Deadline test on the wrapping 32-bit tick.
bool Before(std::uint32_t now, std::uint32_t deadline) {
    return static_cast<std::int32_t>(now - deadline) < 0;
}

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
    const std::uint32_t start = port.tickMs();
    const std::uint32_t limit = start + kFirstByteTimeoutMs + kLongestFrameMs;
    std::uint32_t deadline = start + kFirstByteTimeoutMs;
    while (!parser.complete() && Before(port.tickMs(), deadline)) {
        std::uint8_t byte = 0;
        if (port.readWithin(&byte, 1, port.msUntil(deadline)) == 1) {
            deadline = port.tickMs() + kInterByteTimeoutMs;
            if (!Before(deadline, limit)) {
                deadline = limit;
            }
            parser.feed(byte);
        }
    }
    return parser.complete();
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
    return endPhase(request(LoaderCommand::LoaderConnect));
}

bool ResidentLoaderProcedure::prepare() {
    Status(StatusId::Connected);
    return endPhase(request(LoaderCommand::LoaderPrepare));
}

bool ResidentLoaderProcedure::eraseSectors(std::uint64_t count) {
    // At least one sector, even for an empty image.
    std::uint64_t offset = 0;
    do {
        Status(StatusId::Connected);
        std::array<std::uint8_t, 4> sector;
        PutBigEndian32(sector.data(), static_cast<std::uint32_t>(kImageBase + offset));
        if (!request(LoaderCommand::LoaderEraseSector, sector)) {
            return endPhase(false);
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
            return endPhase(false);
        }
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
