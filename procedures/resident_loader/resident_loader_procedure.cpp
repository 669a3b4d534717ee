#include "procedures/resident_loader/resident_loader_procedure.h"

#include <algorithm>
#include <array>
#include <climits>

namespace korvel {

namespace {

void PutBigEndian32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

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

void ResidentLoaderProcedure::begin(std::size_t count) {
    SetProgress(0);
    SetProgressMax(ProgressValue(count));
    Status(StatusId::Connecting);
}

template <typename Step>
RunResult ResidentLoaderProcedure::runPhases(Step step) {
    Phase phase = Phase::Connect;
    for (;;) {
        phase = step(phase);
        port.waitMs(kPhasePauseMs);
        if (phase == Phase::Finished || phase == Phase::Failed || abortRequested) {
            break;
        }
    }
    if (abortRequested) {
        return RunResult::Aborted;
    }
    return phase == Phase::Finished ? RunResult::Success : RunResult::ProgrammingError;
}

RunResult ResidentLoaderProcedure::RunRelative(std::span<const std::uint8_t> image) {
    const std::uint64_t count = image.size();
    std::uint64_t offset = 0;
    begin(image.size());
    return runPhases([&](Phase phase) {
        switch (phase) {
            case Phase::Connect:
                return request(LoaderCommand::LoaderConnect) ? Phase::Prepare : Phase::Failed;
            case Phase::Prepare:
                Status(StatusId::Connected);
                return request(LoaderCommand::LoaderPrepare) ? Phase::Block : Phase::Failed;
            case Phase::Block: {
                Status(StatusId::Programming);
                if (!writeBlock(LoaderCommand::LoaderWriteAtOffset,
                                static_cast<std::uint32_t>(offset), image, offset)) {
                    return Phase::Failed;
                }
                // The block that starts past the count is the last one sent.
                const Phase next = offset > count ? Phase::Restart : Phase::Block;
                SetProgress(ProgressValue(offset));
                offset += kBlockSize;
                return next;
            }
            case Phase::Restart:
                Status(StatusId::Reboot);
                // The loader is leaving; whether it answered does not matter.
                request(LoaderCommand::LoaderRestart);
                return Phase::Finished;
            default:
                return Phase::Failed;
        }
    });
}

RunResult ResidentLoaderProcedure::RunAbsolute(std::span<const std::uint8_t> image) {
    const std::uint64_t end = std::uint64_t{kImageBase} + image.size();
    std::uint64_t address = kImageBase;
    begin(image.size());
    return runPhases([&](Phase phase) {
        switch (phase) {
            case Phase::Connect:
                return request(LoaderCommand::LoaderConnect) ? Phase::Erase : Phase::Failed;
            case Phase::Erase: {
                Status(StatusId::Connected);
                std::array<std::uint8_t, 4> sector;
                PutBigEndian32(sector.data(), static_cast<std::uint32_t>(address));
                if (!request(LoaderCommand::LoaderEraseSector, sector)) {
                    return Phase::Failed;
                }
                SetProgress(ProgressValue(address - kImageBase));
                address += kSectorSize;
                if (address >= end) {
                    address = kImageBase;
                    return Phase::Block;
                }
                return Phase::Erase;
            }
            case Phase::Block: {
                Status(StatusId::Programming);
                if (!writeBlock(LoaderCommand::LoaderWriteAtAddress,
                                static_cast<std::uint32_t>(address), image, address - kImageBase)) {
                    return Phase::Failed;
                }
                address += kBlockSize;
                SetProgress(ProgressValue(address - kImageBase));
                return address >= end ? Phase::Restart : Phase::Block;
            }
            case Phase::Restart:
                Status(StatusId::Reboot);
                // The loader is leaving; whether it answered does not matter.
                request(LoaderCommand::LoaderRestart);
                return Phase::Finished;
            default:
                return Phase::Failed;
        }
    });
}

}  // namespace korvel
