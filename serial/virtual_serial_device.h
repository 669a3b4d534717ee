#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "serial/serial_device.h"

namespace korvel {

// Virtual time in nanoseconds since the virtual line was created.
using VirtualNs = std::uint64_t;

// The far end of a virtual line: a board model or a test's script. It hears
// the host's bytes, BREAK and line changes at the moment they are complete on
// the wire, and hands back what the board transmits, stamped with the moment
// each byte is complete at the host.
class VirtualLineEnd {
  public:
    virtual ~VirtualLineEnd() = default;

    virtual void hostByte(VirtualNs at, std::uint8_t byte) = 0;
    virtual void hostBreak(VirtualNs at, bool on) = 0;
    virtual void hostLineSettings(VirtualNs at, const LineSettings& settings) = 0;

    // When the board's next byte is complete at the host, if one is pending.
    virtual std::optional<VirtualNs> nextBoardByte() = 0;
    // Appends every board byte complete by `now`.
    virtual void takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) = 0;
};

// Time on the wire of one character: start bit, 8 data bits, parity, stop bits.
VirtualNs CharacterTimeNs(const LineSettings& settings);

// One event on a virtual line, for tests that check the whole dialogue and
// benchmarks that compute the line-time bound of a run.
struct WireEvent {
    enum class Kind {
        HostByte,
        BoardByte,
        BreakOn,
        BreakOff,
        LineSettings,
        DtrOn,
        DtrOff,
        RtsOn,
        RtsOff
    };
    VirtualNs at = 0;
    Kind kind = Kind::HostByte;
    std::uint8_t byte = 0;
    int baudRate = 0;

    bool isModemLineChange() const {
        return kind == Kind::DtrOn || kind == Kind::DtrOff || kind == Kind::RtsOn ||
               kind == Kind::RtsOff;
    }
};

// A serial device on a virtual clock. Sleeping and waiting for input advance
// the clock instead of the wall clock, so a protocol's time-outs cost nothing
// and every run is deterministic.
class VirtualSerialDevice : public SerialDevice {
  public:
    struct Options {
        // Host bytes take their line time at the current baud rate; off makes
        // them arrive at once.
        bool paced = true;
        // The tick reported at virtual time 0 (lets tests cross the 32-bit wrap).
        std::uint32_t startTickMs = 1000;
        // Refuse to open, as a missing or busy device would.
        std::optional<OpenFailure> openFailure;
        // Receives every event on the line when set; owned by the caller.
        std::vector<WireEvent>* wireLog = nullptr;
        std::string path = "virtual";
    };

    VirtualSerialDevice(VirtualLineEnd& end, Options options);
    explicit VirtualSerialDevice(VirtualLineEnd& end);

    bool open(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return open_; }
    const OpenFailure& lastOpenFailure() const override { return openFailure_; }

    void applyLineSettings(const LineSettings& settings) override;
    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override;
    std::size_t readAvailable(std::uint8_t* buffer, std::size_t capacity) override;
    bool waitForInput(unsigned timeoutMs) override;
    void write(const std::uint8_t* data, std::size_t count) override;
    void discardInput() override;
    void discardOutput() override;
    void setBreak(bool on) override;
    void setModemLines(bool dtr, bool rts) override;

    std::uint32_t tickMs() override;
    void sleepMs(unsigned ms) override;

    std::string path() const override { return options_.path; }

    VirtualNs now() const { return now_; }
    const LineSettings& lineSettings() const { return settings_; }
    // Makes every later operation on the open device fail with this system
    // error code, as an unplugged USB adapter does.
    void failFromNowOn(int code) { failure_ = code; }

  private:
    void checkFailure(const char* operation) const;
    void collect();
    bool hasInput() const { return receivedHead_ < received_.size(); }
    // Hands over up to capacity of the received bytes.
    std::size_t deliver(std::uint8_t* buffer, std::size_t capacity);
    // Takes the far end's bytes complete by `at`; returns how many came.
    std::size_t takeUpTo(VirtualNs at);
    void log(WireEvent::Kind kind, VirtualNs at, std::uint8_t byte = 0);

    VirtualLineEnd& end_;
    Options options_;
    LineSettings settings_;
    bool open_ = false;
    OpenFailure openFailure_;
    VirtualNs now_ = 0;
    VirtualNs txFreeAt_ = 0;
    bool dtr_ = false;
    bool rts_ = false;
    std::vector<std::uint8_t> received_;
    std::size_t receivedHead_ = 0;
    std::optional<int> failure_;
};

}  // namespace korvel
