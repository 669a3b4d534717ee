#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/board_model.h"

namespace korvel::sim {

// Ways a resident loader can misbehave, for the failure paths of a host.
struct ResidentLoaderFaults {
    bool silent = false;                       // hears everything, answers nothing
    std::optional<unsigned> firstByteDelayMs;  // every reply starts this late
    std::optional<unsigned> replyGapMs;        // every reply pauses after its first byte
    std::optional<int> badChecksumAt;          // 0: every reply; n: the reply to request n
    std::optional<int> noReplyAt;              // request n (from 1) is ignored
};

// Adds one fault given as text: "silent", "first-byte-delay=MS",
// "reply-gap=MS", "bad-checksum" or "bad-checksum=N", "no-reply=N".
bool ParseResidentLoaderFault(const std::string& text, ResidentLoaderFaults& faults,
                              std::string& error);

// A board running its resident loader, seen from the board: it takes frames
//   STX, command, length (2 bytes, high first), payload, sum, ETX
// (sum: low byte of command + length bytes + payload) at 57600 baud, 8N1
// (anything heard at other line settings is noise to it), and
// answers each one it takes with one frame of the same command carrying a
// one-byte status. A frame with a bad sum, no end byte or a payload larger
// than its 1028-byte buffer is dropped unanswered.
//
// Its 512 KB flash holds the loader below 0x18000 and an image area above,
// which starts out holding old firmware. The loader understands:
//   0x10 connect, 0x11 restart, 0x16 prepare (erase the whole image area),
//   0x17 write 1024 bytes at an offset into the image area,
//   0x20 erase the 32 KB sector at an address, 0x21 write 1024 bytes at an address.
// Every request but connect and restart is refused until connect; restart
// ends the session. Writes into flash that was not erased since it was last
// written are carried out as flash does (bits only go from 1 to 0) and noted.
class ResidentLoaderModel : public BoardModel {
  public:
    static constexpr int kBaudRate = 57600;
    static constexpr std::uint32_t kFlashSize = 512 * 1024;
    static constexpr std::uint32_t kImageAreaStart = 0x18000;
    static constexpr std::uint32_t kSectorSize = 0x8000;
    static constexpr std::uint32_t kWriteSize = 1024;
    static constexpr std::size_t kReceiveBuffer = 4 + kWriteSize;
    // How long the flash keeps the loader busy before it can answer.
    static constexpr unsigned kEraseBusyMs = 20;
    static constexpr unsigned kWriteBusyMs = 2;
    // A frame whose next byte is this late is given up; the byte starts afresh.
    static constexpr unsigned kFrameGiveUpMs = 1000;

    enum Reply : std::uint8_t {
        Ok = 0x00,
        NotConnected = 0x01,
        BadLength = 0x02,
        BadAddress = 0x03,
        UnknownCommand = 0x04,
    };

    struct Request {
        VirtualNs at = 0;  // when its last byte arrived
        std::uint8_t command = 0;
        std::vector<std::uint8_t> payload;
        bool answered = false;
        std::uint8_t reply = Ok;
        // The 32-bit big-endian argument that opens the payload, 0 when shorter.
        std::uint32_t argument() const;
    };

    explicit ResidentLoaderModel(ResidentLoaderFaults faults = {});

    const std::vector<Request>& requests() const { return requests_; }
    // Flash from kImageAreaStart to the end.
    std::span<const std::uint8_t> imageArea() const;
    // Addresses of the erased sectors, in order (prepare erases them all).
    const std::vector<std::uint32_t>& erasedSectors() const { return erasedSectors_; }
    // Addresses of writes that hit flash not erased since it was last written.
    const std::vector<std::uint32_t>& unerasedWrites() const { return unerasedWrites_; }
    int droppedFrames() const { return droppedFrames_; }
    // Bytes heard while the line was not at 57600 8N1.
    int noiseBytes() const { return noiseBytes_; }
    int restarts() const { return restarts_; }

  protected:
    void onByte(VirtualNs at, std::uint8_t byte) override;

  private:
    enum class Rx { Idle, Command, LengthHigh, LengthLow, Payload, Sum, End };

    void take(VirtualNs at);
    std::uint8_t act(std::uint8_t command, const std::vector<std::uint8_t>& payload,
                     unsigned& busyMs);
    std::uint8_t erase(std::uint32_t address);
    std::uint8_t write(std::uint32_t address, std::span<const std::uint8_t> data);
    void answer(VirtualNs at, std::uint8_t command, std::uint8_t reply, unsigned busyMs,
                bool badSum);

    ResidentLoaderFaults faults_;
    std::vector<std::uint8_t> flash_;
    std::vector<bool> erased_;
    bool connected_ = false;

    Rx rx_ = Rx::Idle;
    VirtualNs lastByteAt_ = 0;
    std::uint8_t command_ = 0;
    std::size_t length_ = 0;
    std::uint8_t sum_ = 0;
    std::vector<std::uint8_t> payload_;

    std::vector<Request> requests_;
    std::vector<std::uint32_t> erasedSectors_;
    std::vector<std::uint32_t> unerasedWrites_;
    int droppedFrames_ = 0;
    int noiseBytes_ = 0;
    int restarts_ = 0;
};

}  // namespace korvel::sim
