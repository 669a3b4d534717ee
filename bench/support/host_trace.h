#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "serial/virtual_serial_device.h"

namespace korvel::bench {

// One thing the host did on a virtual line, in program order.
struct HostStep {
    enum class Kind {
        Emit,     // wrote, set a BREAK or changed the line: its wire events are logged
        Pause,    // slept
        Consume,  // read a board byte it had waited for
    };
    Kind kind = Kind::Emit;
    // Emit: the wire log holds the host's events up to (not including) this index.
    std::size_t wireEnd = 0;
    // Pause: how long, and whether it was a poll (a sleep between two reads,
    // the host waiting for input) rather than a pause of the dialogue.
    VirtualNs ns = 0;
    bool poll = false;
    // Consume: the last board byte the read returned, counted over the board
    // bytes of the wire log from 0.
    std::size_t boardByte = 0;
};

// A serial device that passes everything to a virtual line and notes what
// the host does on it, for the bound of a run: every write and line change
// against the wire log, every pause, and which board byte each read waited
// for. The log and the steps belong to the caller and outlive the device
// (a procedure's port destroys its device when the run ends).
class HostTraceDevice : public SerialDevice {
  public:
    HostTraceDevice(std::unique_ptr<VirtualSerialDevice> line, const std::vector<WireEvent>& wire,
                    std::vector<HostStep>& steps, VirtualNs& endNs);
    ~HostTraceDevice() override;

    bool open(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return line_->isOpen(); }
    const OpenFailure& lastOpenFailure() const override { return line_->lastOpenFailure(); }

    void applyLineSettings(const LineSettings& settings) override;
    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override;
    std::size_t readAvailable(std::uint8_t* buffer, std::size_t capacity) override;
    bool waitForInput(unsigned timeoutMs) override;
    void write(const std::uint8_t* data, std::size_t count) override;
    void discardInput() override;
    void discardOutput() override;
    void setBreak(bool on) override;
    void setModemLines(bool dtr, bool rts) override;

    std::uint32_t tickMs() override { return line_->tickMs(); }
    void sleepMs(unsigned ms) override;
    void startPause() override { line_->startPause(); }

    std::string path() const override { return line_->path(); }

  private:
    // Every operation but tickMs ends the pause before it.
    void endPause(bool nextIsRead);
    void emitted();
    // Counts the board bytes the log has gained.
    void scanWire();
    // Notes what a read returned.
    std::size_t taken(std::size_t n);

    std::unique_ptr<VirtualSerialDevice> line_;
    const std::vector<WireEvent>& wire_;
    std::vector<HostStep>& steps_;
    VirtualNs& endNs_;

    std::optional<VirtualNs> pauseStart_;
    bool pauseAfterRead_ = false;
    bool lastWasRead_ = false;
    std::size_t wireScanned_ = 0;
    std::size_t boardSeen_ = 0;
    // Board bytes gone from the receive buffer: read, or discarded.
    std::size_t consumed_ = 0;
};

}  // namespace korvel::bench
