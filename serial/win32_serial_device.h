#pragma once

#include <cstdint>
#include <string>

#include "serial/serial_device.h"

namespace korvel {

// A COM port through the Windows communications API: exclusive, overlapped
// handle, every call waiting for its own completion. The API's own types stay
// in the source file (and in serial/win32_comm_state.h).
class Win32SerialDevice : public SerialDevice {
  public:
    // Driver buffers each way; far more than arrives between two polls.
    static constexpr std::uint32_t kDriverBufferBytes = 2048;

    // path: "\\.\COM12" (the prefix lets numbers above 9 work).
    explicit Win32SerialDevice(std::string path);
    ~Win32SerialDevice() override;

    Win32SerialDevice(const Win32SerialDevice&) = delete;
    Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

    bool open(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return handle_ != nullptr; }
    const OpenFailure& lastOpenFailure() const override { return openFailure_; }

    void applyLineSettings(const LineSettings& settings) override;
    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override;
    bool waitForInput(unsigned timeoutMs) override;
    void write(const std::uint8_t* data, std::size_t count) override;
    void discardInput() override;
    void discardOutput() override;
    void setBreak(bool on) override;
    void setModemLines(bool dtr, bool rts) override;

    std::uint32_t tickMs() override;
    void sleepMs(unsigned ms) override;

    std::string path() const override { return path_; }

  private:
    // Received bytes waiting in the driver (a DWORD).
    unsigned long queuedInput();

    std::string path_;
    // The port's handle while open, else null.
    void* handle_ = nullptr;
    // Completion event of the one transfer in flight (manual reset).
    void* event_ = nullptr;
    OpenFailure openFailure_;
    // The system timer runs at 1 ms while the port is open: at its default
    // 15.6 ms every short sleep and wait of a run lasts that long.
    bool fineTimer_ = false;
};

}  // namespace korvel
