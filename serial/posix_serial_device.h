#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "serial/serial_device.h"

namespace korvel {

// A termios serial device (a UART, a USB adapter or a pty) in raw mode.
class PosixSerialDevice : public SerialDevice {
  public:
    explicit PosixSerialDevice(std::string path);
    ~PosixSerialDevice() override;

    bool open(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return fd_ >= 0; }
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
    void startPause() override;

    std::string path() const override { return path_; }

  private:
    void askForLowLatency();

    std::string path_;
    int fd_ = -1;
    // A pty's port side: no modem lines, no BREAK; its refusals are no fault.
    bool pseudoTerminal_ = false;
    // The driver's flags before open asked for low latency, to restore on close.
    std::optional<int> flagsBeforeLowLatency_;
    // When the last sleep of the pause under way was due to end.
    std::chrono::steady_clock::time_point stepEnd_;
    OpenFailure openFailure_;
};

}  // namespace korvel
