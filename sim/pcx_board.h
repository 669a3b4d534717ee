#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/board_model.h"

namespace korvel::sim {

// Ways the controller unit's boot loader can misbehave.
struct PcxBoardFaults {
    bool silent = false;                         // never answers
    bool busyOnce = false;                       // answers its first request with status 0xFF
    bool refuseEraseAll = false;                 // refuses Erase(0); single sectors still erase
    std::optional<std::uint32_t> refuseWriteAt;  // refuses the block write at this address
    std::string loaderId = "BOOTPLM300";         // identifier in the information reply
    bool noRebootReply = false;                  // restarts on Reboot without answering
    int ignoredPings = 0;                        // answers only after this many pings
};

// The controller unit's boot loader, from the unit's side of the line: it
// takes frames addressed to 0x22 and answers each with a frame of its own.
// Flash is 512 KB; sectors 0 to 7 hold the loader and sector 27 the unit's
// data, so only sectors 8 to 26 can be erased and written, and a block lands
// only on erased flash. After ChangeBaudRate the unit answers at the old rate
// and then listens at the new one: a host that does not follow is not heard.
// LeaveLoader starts the application, which no longer answers; after Reboot
// the loader listens again, as it does at every start.
class PcxBoard : public BoardModel {
  public:
    static constexpr std::uint8_t kAddress = 0x22;
    static constexpr std::uint32_t kFlashSize = 0x80000;
    static constexpr int kStartBaudRate = 57600;

    // Status bytes of the unit's replies.
    static constexpr std::uint8_t kOk = 0x00;
    static constexpr std::uint8_t kUnknownCommand = 0x01;
    static constexpr std::uint8_t kBadLength = 0x02;
    static constexpr std::uint8_t kBadAddress = 0x03;
    static constexpr std::uint8_t kNotErased = 0x04;
    static constexpr std::uint8_t kRefused = 0x05;
    static constexpr std::uint8_t kNotProgramming = 0x06;
    static constexpr std::uint8_t kBadBaudRate = 0x07;
    static constexpr std::uint8_t kBusy = 0xFF;

    explicit PcxBoard(PcxBoardFaults faults = {}, std::string version = "V2.10");

    const std::vector<std::uint8_t>& flash() const { return flash_; }

    // What the unit heard and did, for tests.
    struct Request {
        std::uint8_t command;
        std::uint32_t argument;  // address or baud rate, when the command has one
        std::uint8_t status;     // as answered, or as it would have been
        bool answered;
        int hostBaudRate;
    };
    const std::vector<Request>& requests() const { return requests_; }
    int count(std::uint8_t command) const;
    std::vector<std::uint32_t> arguments(std::uint8_t command) const;
    bool inApplication() const { return inApplication_; }

  protected:
    void onByte(VirtualNs at, std::uint8_t byte) override;
    void onLineSettings(VirtualNs at, const LineSettings& settings) override;

  private:
    enum class Rx {
        Start,
        Address,
        AddressCheck,
        Command,
        LengthHigh,
        LengthLow,
        Status,
        Payload,
        Checksum,
        End
    };

    void catchUp(VirtualNs at);
    void resync() { rx_ = Rx::Start; }
    void handleFrame(VirtualNs at);
    // Carries out one request; returns the status and the time it takes.
    std::uint8_t execute(std::uint8_t command, std::uint32_t argument,
                         std::vector<std::uint8_t>& replyPayload, VirtualNs& busyNs);
    std::uint8_t erase(std::uint32_t address, VirtualNs& busyNs);
    std::uint8_t writeBlock(std::uint32_t address, VirtualNs& busyNs);
    void answer(VirtualNs at, std::uint8_t command, std::uint8_t status,
                const std::vector<std::uint8_t>& payload);
    void restart(VirtualNs at);

    PcxBoardFaults faults_;
    std::string version_;
    std::vector<std::uint8_t> flash_;

    int unitBaud_ = kStartBaudRate;
    std::optional<std::pair<VirtualNs, int>> pendingBaud_;  // switch at, new rate
    VirtualNs deafUntil_ = 0;
    bool programming_ = false;
    bool inApplication_ = false;
    bool busyAnswered_ = false;
    int pingsHeard_ = 0;

    // Frame being received.
    Rx rx_ = Rx::Start;
    VirtualNs lastByteAt_ = 0;
    std::uint8_t rxAddress_ = 0;
    std::uint8_t rxCommand_ = 0;
    std::uint16_t rxLength_ = 0;
    std::uint8_t rxSum_ = 0;
    std::vector<std::uint8_t> rxPayload_;

    std::vector<Request> requests_;
};

}  // namespace korvel::sim
