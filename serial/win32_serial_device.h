#pragma once

#include <windows.h>

#include <string>

#include "serial/serial_device.h"

namespace korvel {

// A COM port through the Windows communications API: exclusive, overlapped
// handle, every call waiting for its own completion.
class Win32SerialDevice : public SerialDevice {
  public:
    // Driver buffers each way; far more than arrives between two polls.
    static constexpr DWORD kDriverBufferBytes = 2048;

    // path: "\\.\COM12" (the prefix lets numbers above 9 work).
    explicit Win32SerialDevice(std::string path);
    ~Win32SerialDevice() override;

    Win32SerialDevice(const Win32SerialDevice&) = delete;
    Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

    bool open(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }
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
    // Starts an overlapped transfer and waits for it; returns the byte count.
    DWORD transfer(const char* operation, BOOL started, OVERLAPPED& overlapped);
    // Received bytes waiting in the driver.
    DWORD queuedInput();

    std::string path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    // Completion event of the one transfer in flight (manual reset).
    HANDLE event_ = nullptr;
    OpenFailure openFailure_;
    // The system timer runs at 1 ms while the port is open: at its default
    // 15.6 ms every short sleep and wait of a run lasts that long.
    bool fineTimer_ = false;
};

// The device state for the line settings: 8 data bits, no flow control of any
// kind, DTR and RTS held inactive. Fields the line settings do not decide keep
// what `current` (the driver's state) has.
DCB MakeCommState(const DCB& current, const LineSettings& settings);
// Reads return after about 1 ms with whatever came; writes may take 100 ms a
// byte plus one second.
COMMTIMEOUTS MakeCommTimeouts();
// The system's text for an error code, without the trailing line break.
std::string Win32ErrorText(DWORD code);

}  // namespace korvel
