#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "jobs/proc_context.h"
#include "jobs/run_result.h"
#include "procedures/boot_monitor/rolling_text_buffer.h"
#include "serial/serial_port.h"

namespace korvel {

// Programs a board whose processor runs a text boot monitor, driving the
// monitor as a terminal would: catch the banner while the operator switches
// the board on, stop the automatic start, optionally load and save a second
// image (the flash stage), load the main image into RAM with a raw transfer
// that a BREAK ends, and start it.
//
// The procedure always runs to success or to a failure point: it never looks
// at abortRequested and is not registered for Stop. A failure point names its
// cause through Fail; learned.bytesWritten counts the bytes of the transfers
// the monitor accepted.
class BootMonitorProcedure : public ProcContext {
  public:
    static constexpr int kBaudRate = 115200;
    static constexpr std::uint8_t kLineFlags = 0x11;  // 8 data bits, no parity, one stop bit
    static constexpr std::size_t kEchoCapacity = 512;

    explicit BootMonitorProcedure(int portNumber);
    // For tests: the procedure on a device the caller made.
    explicit BootMonitorProcedure(std::unique_ptr<SerialDevice> device);

    // Opens the port and discards anything pending; false when it cannot be opened.
    bool Open();
    // Success when the main image was loaded and started, DeviceError at any
    // failure point. The second image, when not empty, goes through the flash
    // stage first. A failing port operation throws SerialError.
    RunResult Run(std::span<const std::uint8_t> mainImage,
                  std::span<const std::uint8_t> secondImage);
    void Close();

    // True when `text` turns up in what arrives before the time-out; what
    // arrived stays readable through received() until the next wait.
    bool WaitForText(std::string_view text, unsigned timeoutMs);
    // Sends a monitor command with its carriage return and consumes the
    // echo; an echo that never completes costs the whole echo wait, nothing more.
    void SendCommand(std::string_view text);
    // Sends the characters as they are.
    void SendText(std::string_view text);
    // Sends an image raw in paced chunks of 100 bytes, moving the progress bar.
    void StreamImage(std::span<const std::uint8_t> image);

    const RollingTextBuffer& received() const { return received_; }

    // A raw transfer: its command, the address it names, the quiet line
    // around its BREAK, and whether "Programming" is shown once it starts.
    struct RawLoad {
        std::string_view command;
        std::string_view address;
        unsigned pauseAroundBreakMs;
        bool announceProgramming;
    };

    SerialPort port;

  private:
    // The phases of a run, in order; a false return is the run's failure point.
    bool catchMonitor();
    void stopAutostart();
    void awaitPrompt();
    bool flashSecondImage(std::span<const std::uint8_t> image);
    bool loadMainImage(std::span<const std::uint8_t> image);
    void startMainImage(std::size_t mainSize);

    // "load term raw ..." through to the monitor's verdict on the transfer.
    bool LoadRaw(const RawLoad& load, std::span<const std::uint8_t> image);
    // A flash-stage command that the monitor answers with its prompt.
    bool CommandToPrompt(std::string_view command);
    // Names why the wait for what came to nothing: silence, with what to
    // check, or the text that came instead. Always false, the failure point.
    bool unanswered(const std::string& what, const char* check);

    RollingTextBuffer received_;
    std::array<std::uint8_t, kEchoCapacity> echo_{};
};

}  // namespace korvel
