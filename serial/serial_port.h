#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "serial/serial_device.h"

namespace korvel {

// The one serial line of a procedure: fixed line settings, ~1 ms polled reads
// and reads that sleep until a byte comes, and the millisecond timing that
// every procedure time-out rests on.
class SerialPort {
  public:
    // Records the configuration; the device is resolved from the port number
    // when the port is opened. Touches no device.
    SerialPort(int portNumber, int baudRate, std::uint8_t lineFlags);
    // For tests and front ends that already hold a device.
    SerialPort(std::unique_ptr<SerialDevice> device, int baudRate, std::uint8_t lineFlags);
    ~SerialPort();

    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens (if needed) and configures the device, then discards pending
    // input and output. False when the device cannot be opened or configured.
    bool open();
    void close();
    bool isOpen() const;

    // Stores the rate; when open, applies it at once and discards pending data.
    void setBaudRate(int baudRate);
    int baudRate() const { return settings_.baudRate; }

    void write(const std::uint8_t* data, std::uint16_t count);
    std::uint16_t read(std::uint8_t* buffer, std::uint16_t capacity);
    // What has already arrived, without waiting for more.
    std::uint16_t readAvailable(std::uint8_t* buffer, std::uint16_t capacity);
    // Waits up to timeoutMs for the first byte without spinning, then returns
    // what has arrived; 0 when nothing came in time.
    std::uint16_t readWithin(std::uint8_t* buffer, std::uint16_t capacity, unsigned timeoutMs);
    // Throw away what the driver holds: received bytes not yet read, or bytes
    // not yet on the line.
    void discardInput();
    void discardOutput();
    // Break condition for 200 ms.
    void sendBreak();
    // DTR and RTS (true: asserted); both are inactive after open.
    void setModemLines(bool dtr, bool rts);

    // Pause of at least ms + 1 milliseconds on the tick, in 2 ms sleeps.
    void waitMs(unsigned ms);
    // One sleep of ms milliseconds: for a wait whose earliest end is known.
    void sleepMs(unsigned ms);
    std::uint32_t tickMs();

    int portNumber() const { return portNumber_; }
    // "COM3": the name the user picked.
    std::string name() const;
    // Why the last open failed (empty when it did not).
    const OpenFailure& lastOpenFailure() const { return openFailure_; }
    std::string devicePath() const;

  private:
    SerialDevice& device();

    int portNumber_;
    LineSettings settings_;
    std::unique_ptr<SerialDevice> device_;
    OpenFailure openFailure_;
};

}  // namespace korvel
