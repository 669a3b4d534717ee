#pragma once

#include <cstdint>
#include <memory>

#include "jobs/proc_context.h"
#include "jobs/run_result.h"
#include "procedures/isp/chip_table.h"
#include "procedures/isp/flash_image.h"
#include "serial/serial_port.h"

namespace korvel {

// Programs an LPC2000 chip through its serial ISP boot loader: baud sync,
// identification, unlock, erase of the sectors the image needs, the image in
// blocks through a RAM buffer, then a small jump program that starts the new
// firmware. A state machine driven one slice (at most 2 s) at a time, so that
// Stop and time-outs are seen between steps.
class IspProcedure : public ProcContext {
  public:
    // Characters kept of a command's echo and of the answer after it.
    static constexpr int kBufferSize = 4096;
    static constexpr std::uint32_t kSliceMs = 2000;

    IspProcedure(int portNumber, std::uint8_t lineFlags, int baudRate);
    // For tests: a port on a device the caller made.
    IspProcedure(std::unique_ptr<SerialDevice> device, std::uint8_t lineFlags, int baudRate);

    bool Open();
    void Close();
    // The Intel HEX text of the firmware. Success, ProgrammingError or Aborted.
    RunResult Run(const std::uint8_t* image, std::int32_t size);

    SerialPort port;

  private:
    enum class Event { Begin, Response, Timeout, Retry };
    enum class RunStatus { Running, Succeeded, Failed };

    void Transmit(const char* text, int slices);
    void TransmitRaw(const char* bytes, int count);
    bool Feed(const std::uint8_t* bytes, int count);
    int LineCount() const;
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Cancel(const char* message);
    void HandleEvent(Event event);

    void Dispatch(Event event);
    void GoTo(std::int32_t next);
    void BeginBlankCheck();
    void BeginNextBlock();
    void SendDataLine();
    void AdvanceBlock();
    void OnDataLineEcho(std::int32_t lineState, std::int32_t checksumState);
    void OnChecksumAnswer(std::int32_t lineState, std::int32_t doneState);
    bool ResponseIs(const char* text) const;
    std::int32_t BlockAddress() const;

    FlashImage image_;

    char echo_[kBufferSize] = {};
    int echoLength_ = 0;
    int echoPos_ = -1;  // -1: none, after a mismatch or a time-out
    char response_[kBufferSize] = {};
    int responseEnd_ = 0;
    std::int32_t timeoutSlices_ = 0;
    std::int32_t state_ = 0;
    RunStatus runStatus_ = RunStatus::Running;
    std::int32_t progressCount_ = 0;
    // Set by GoTo: Begin of the new state runs before HandleEvent returns.
    bool beginPending_ = false;

    std::int32_t syncRetries_ = 0;
    const ChipRow* chip_ = nullptr;
    std::int32_t sectorIndex_ = 0;
    std::int32_t blockOffset_ = 0;
    std::int32_t xferAddress_ = 0;
    std::int32_t xferRemaining_ = 0;
    std::int32_t lineCount_ = 0;
    std::int32_t groupSum_ = 0;
};

}  // namespace korvel
