#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "serial/serial_port.h"

namespace korvel {

// The three text lines of the PCX loader's information reply.
struct LoaderInfo {
    std::string field1;
    std::string field2;  // firmware version
    std::string field3;  // boot-loader identifier
};

// How one exchange with the PCX ended.
enum class LinkOutcome : std::uint8_t {
    Ok,        // carried out
    Refused,   // the unit answered with a non-zero status, busy (0xFF) included
    NoReply,   // no valid reply on the last attempt
    Aborted,   // RequestLinkAbort cut the exchange short
    BadReply,  // a reply was taken but its content does not fit the command
};

struct LinkResult {
    LinkOutcome outcome = LinkOutcome::NoReply;
    // The status byte of the unit's reply; 0 when it gave none.
    std::uint8_t status = 0;

    bool ok() const { return outcome == LinkOutcome::Ok; }
    bool operator==(const LinkResult&) const = default;
};

// The host side of the PCX boot-loader protocol: addressed, checksummed
// frames, strictly one request and one reply, retried on silence and (when
// allowed) on busy. The link owns the procedure's port; the procedure opens,
// re-clocks and pauses it through port().
//
// Frame: 02, address, address ^ 0x85, command, length (16-bit BE), status,
// payload, checksum (sum of command .. last payload byte), 03.
class FramedLink {
  public:
    static constexpr int kBaudRate = 57600;
    static constexpr std::uint8_t kLineFlags = 0x11;
    static constexpr std::uint8_t kDefaultAddress = 0x32;
    static constexpr std::uint32_t kDefaultReplyTimeoutMs = 3500;
    static constexpr std::uint16_t kDefaultAttemptsOnBusy = 1;
    static constexpr std::uint16_t kDefaultAttemptsOnTimeout = 3;
    static constexpr std::size_t kMaxPayload = 2057;
    static constexpr std::size_t kBlockSize = 1024;
    static constexpr std::size_t kMaxInfoField = 24;

    // The unit's status for "asked again while attempts remain".
    static constexpr std::uint8_t kBusy = 0xFF;

    // Command codes.
    static constexpr std::uint8_t kBeginProgramming = 0x0A;
    static constexpr std::uint8_t kPing = 0x10;
    static constexpr std::uint8_t kReadInfo = 0x11;
    static constexpr std::uint8_t kChangeBaudRate = 0x18;
    static constexpr std::uint8_t kErase = 0x20;
    static constexpr std::uint8_t kWriteBlock = 0x21;
    static constexpr std::uint8_t kLeaveLoader = 0x22;
    static constexpr std::uint8_t kReboot = 0x63;

    explicit FramedLink(int portNumber);
    explicit FramedLink(std::unique_ptr<SerialDevice> device);

    SerialPort& port() { return port_; }

    // One request and its reply with the retries of the current fields. Ok
    // whatever payload came back: replyPayload() holds it.
    LinkResult Transact(std::uint8_t command, const std::uint8_t* payload, std::uint16_t length);

    // Pings with stepMs per attempt (at least 10) for about totalMs in all;
    // the time-out and attempt fields are restored afterwards.
    LinkResult PingWithin(std::uint32_t totalMs, std::uint32_t stepMs);

    // From another thread: the pending wait gives up at its next pass.
    void RequestLinkAbort() { linkAbort_ = true; }

    // A reply payload where the command expects none is a BadReply.
    LinkResult BeginProgramming();
    LinkResult Ping();
    // A payload that is not three lines is a BadReply; info is then empty.
    LinkResult ReadInfo(LoaderInfo& info);
    LinkResult ChangeBaudRate(std::uint32_t baudRate);
    LinkResult Erase(std::uint32_t address);
    // Sends exactly kBlockSize bytes from `data`.
    LinkResult WriteBlock(std::uint32_t address, const std::uint8_t* data);
    LinkResult LeaveLoader();
    LinkResult Reboot();

    std::uint8_t address() const { return address_; }
    void setAddress(std::uint8_t address) { address_ = address; }
    std::uint32_t replyTimeoutMs() const { return replyTimeoutMs_; }
    void setReplyTimeoutMs(std::uint32_t ms) { replyTimeoutMs_ = ms; }
    std::uint16_t attemptsOnBusy() const { return attemptsOnBusy_; }
    void setAttemptsOnBusy(std::uint16_t attempts) { attemptsOnBusy_ = attempts; }
    std::uint16_t attemptsOnTimeout() const { return attemptsOnTimeout_; }
    void setAttemptsOnTimeout(std::uint16_t attempts) { attemptsOnTimeout_ = attempts; }
    // 3500 ms and 3 attempts.
    void restoreDefaults();

    // The payload of the last reply taken.
    std::span<const std::uint8_t> replyPayload() const {
        return {replyPayload_.data(), replyLength_};
    }
    std::uint16_t replyLength() const { return replyLength_; }

  private:
    // Receive parser states: what the next byte must be.
    enum class RxState {
        Start,
        Address,
        AddressCheck,
        Command,
        LengthHigh,
        LengthLow,
        Status,
        Payload,
        Checksum,
        End,
    };

    void sendRequest(std::uint8_t command, const std::uint8_t* payload, std::uint16_t length);
    // One attempt: the reply's status, or NoReply / Aborted.
    LinkResult receiveReply(std::uint8_t command);
    // True when `byte` completes a frame.
    bool feed(std::uint8_t byte, std::uint8_t command);
    // A command whose reply must carry no payload.
    LinkResult Command(std::uint8_t command, const std::uint8_t* payload = nullptr,
                       std::uint16_t length = 0);
    LinkResult CommandWithAddress(std::uint8_t command, std::uint32_t value);

    SerialPort port_;
    std::uint8_t address_ = kDefaultAddress;
    std::uint32_t replyTimeoutMs_ = kDefaultReplyTimeoutMs;
    std::uint16_t attemptsOnBusy_ = kDefaultAttemptsOnBusy;
    std::uint16_t attemptsOnTimeout_ = kDefaultAttemptsOnTimeout;
    // Written by the user-interface thread, read by the worker.
    std::atomic<bool> linkAbort_{false};

    std::array<std::uint8_t, kMaxPayload> replyPayload_{};
    std::uint16_t replyLength_ = 0;

    // Parser state of the attempt in progress.
    RxState rxState_ = RxState::Start;
    std::uint8_t rxSum_ = 0;
    std::uint8_t rxStatus_ = 0;
    std::uint16_t rxLength_ = 0;
    std::size_t rxStored_ = 0;

    // Request frame (header, payload, checksum, end) and one read's worth of input.
    std::array<std::uint8_t, 7 + kMaxPayload + 2> txFrame_{};
    std::array<std::uint8_t, kMaxPayload> rxChunk_{};
    // The request payload of WriteBlock and the 32-bit commands.
    std::array<std::uint8_t, 4 + kBlockSize> requestPayload_{};
};

}  // namespace korvel
