#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/line_settings.h"

namespace korvel {

// Why a device could not be opened, for the user: the system's code and text.
struct OpenFailure {
    int code = 0;
    std::string text;
    bool permissionDenied = false;
};

// The platform seam under SerialPort: one backend per system (chosen by the
// build) plus a virtual line for tests. Time belongs to the device, so a
// virtual device runs every time-out in virtual time.
//
// Failures of an open device throw SerialError; a read that times out is not
// a failure and returns 0.
class SerialDevice {
  public:
    virtual ~SerialDevice() = default;

    // Opens and fully configures the device. False (with lastOpenFailure set)
    // when it is missing, in use, refused or cannot be configured.
    virtual bool open(const LineSettings& settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual const OpenFailure& lastOpenFailure() const = 0;

    virtual void applyLineSettings(const LineSettings& settings) = 0;
    // Returns what is there or arrives within about 1 ms, at most capacity bytes.
    virtual std::size_t read(std::uint8_t* buffer, std::size_t capacity) = 0;
    // Returns at once with what has already arrived, at most capacity bytes.
    // A backend without a way to look without waiting gives read()'s answer.
    virtual std::size_t readAvailable(std::uint8_t* buffer, std::size_t capacity) {
        return read(buffer, capacity);
    }
    // Sleeps on the device until received input is there or timeoutMs has
    // passed, whichever comes first; true when input is there. The waiting
    // is the system's (or the virtual clock's), never a loop of polls.
    virtual bool waitForInput(unsigned timeoutMs) = 0;
    // Returns when the driver has accepted every byte; throws on a write time-out.
    virtual void write(const std::uint8_t* data, std::size_t count) = 0;
    // Drop received bytes not yet read / bytes not yet transmitted. Neither
    // aborts an operation in progress.
    virtual void discardInput() = 0;
    virtual void discardOutput() = 0;
    // Throws where the device could hold a BREAK but failed to; a device
    // that has no line to hold in break (a pty) ignores it.
    virtual void setBreak(bool on) = 0;
    // Drives the modem-control outputs (true: asserted). Open leaves both
    // inactive. Like setBreak, refused silently only by a device that has no
    // such lines (a pty).
    virtual void setModemLines(bool dtr, bool rts) = 0;

    // The device's millisecond clock (32-bit, wrapping) and its sleep.
    virtual std::uint32_t tickMs() = 0;
    virtual void sleepMs(unsigned ms) = 0;
    // A pause of several sleeps begins. A device that can keeps the sleeps
    // that follow on a grid from this moment, so that their overshoots do
    // not add up over the pause.
    virtual void startPause() {}

    // Where the device lives, for messages ("/dev/ttyUSB0", "\\.\COM3").
    virtual std::string path() const = 0;
};

}  // namespace korvel
