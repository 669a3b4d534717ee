#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "jobs/proc_context.h"
#include "jobs/run_result.h"
#include "procedures/resident_loader/loader_frame.h"
#include "serial/serial_port.h"

namespace korvel {

// Programs a board that already holds a resident loader in its flash, over
// the loader's one-request-one-reply frame protocol, in 1024-byte blocks.
// Two variants: by offset, blocks are addressed by image offset after one
// prepare request; by address, 32 KB sectors from the image base are erased
// first and blocks are addressed by flash address. A run ends with Success,
// ProgrammingError (a request went unanswered, its reason given through
// Fail) or Aborted (Stop, seen after a phase); learned.bytesWritten counts
// the image bytes of the blocks the loader answered.
class ResidentLoaderProcedure : public ProcContext {
  public:
    static constexpr int kBaudRate = 57600;
    static constexpr std::uint8_t kLineFlags = 0x00;  // 8 data bits, no parity, one stop bit

    // Flash address of image offset 0 in the absolute variant.
    static constexpr std::uint32_t kImageBase = 98304;
    static constexpr std::uint32_t kSectorSize = 32768;
    static constexpr std::uint32_t kBlockSize = 1024;
    // Block bytes that lie beyond the image: the erased-flash value.
    static constexpr std::uint8_t kFill = 0xFF;

    // The loader has this long to start its reply, and may pause this long
    // between two bytes of it.
    static constexpr unsigned kFirstByteTimeoutMs = 3000;
    static constexpr unsigned kInterByteTimeoutMs = 200;
    // Every byte restarts the between-bytes wait, so a board that keeps
    // sending without ever completing a frame (its application running and
    // printing, line noise) would hold the run for good. The wait ends at the
    // latest after the first-byte time and the line time of the longest frame
    // a reply can announce (65535 payload bytes, 10 bits a byte at kBaudRate).
    static constexpr unsigned kLongestFrameMs = static_cast<unsigned>(
        ((kLoaderFrameOverhead + 0xFFFF) * 10 * 1000 + kBaudRate - 1) / kBaudRate);
    // After every phase; keeps the loader below ten blocks per second.
    static constexpr unsigned kPhasePauseMs = 100;

    ResidentLoaderProcedure(int portNumber, std::uint8_t lineFlags, int baudRate);
    // For tests: a device instead of a port number.
    ResidentLoaderProcedure(std::unique_ptr<SerialDevice> device, std::uint8_t lineFlags,
                            int baudRate);

    // How blocks are addressed; the package kind chooses.
    enum class Addressing {
        ByOffset,   // after a prepare request, by offset into the image
        ByAddress,  // after erasing the sectors, by flash address from kImageBase
    };

    // By offset, the image is the whole count the driver hands over (for a
    // package entry: its data and the two bytes that follow it).
    RunResult Run(std::span<const std::uint8_t> image, Addressing addressing);

    SerialPort port;

  private:
    // The phases of a run, in order. Each ends with the pause that keeps the
    // loader's pace and returns whether the run goes on.
    bool connect();
    bool prepare();
    bool eraseSectors(std::uint64_t count);
    bool writeBlocks(std::span<const std::uint8_t> image, Addressing addressing);
    bool restart();
    // The pause after a phase; true when the phase succeeded and no Stop came.
    bool endPhase(bool succeeded);

    // The command primitive: sends one request and waits for any well-formed
    // reply; false when none came in time.
    bool request(LoaderCommand command, std::span<const std::uint8_t> payload = {});
    bool awaitReply();
    // Names why the request just made (what) got no reply: silence, with
    // what to check, or the bytes that came instead. Always false, the
    // phase's result.
    bool unanswered(const std::string& what, const char* check);
    // A block request: 4-byte big-endian address, then 1024 bytes of the
    // image from `offset`, filled with kFill past its end.
    bool writeBlock(LoaderCommand command, std::uint32_t address,
                    std::span<const std::uint8_t> image, std::uint64_t offset);

    // The first bytes heard during the last reply wait, for the reason of a
    // reply that never made a frame; heardCount_ counts them all.
    static constexpr std::size_t kHeardKept = 32;
    std::array<std::uint8_t, kHeardKept> heard_{};
    std::size_t heardCount_ = 0;
};

}  // namespace korvel
