#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/proc_context.h"
#include "jobs/run_result.h"
#include "procedures/isp/chip_table.h"
#include "procedures/isp/flash_image.h"
#include "serial/serial_port.h"

namespace korvel {

// Programs an LPC2000 chip through its serial ISP boot loader: baud sync,
// identification, unlock, erase of the sectors the image needs, the image in
// blocks through a RAM buffer, then a small jump program that starts the new
// firmware. Every command waits for its answer one slice (at most 2 s) at a
// time, so that Stop and time-outs are seen between steps.
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
    RunResult Run(std::span<const std::uint8_t> image);

    // With verify on, the written flash is read back and compared with the
    // image before the firmware is started; learned.verified tells that every
    // written byte it could read back matched.
    void SetVerify(bool on) { verify_ = on; }

    SerialPort port;

  private:
    // How the answer to the command in flight comes back.
    enum class Reply : std::uint8_t {
        AfterEcho,    // the command's echo, then the answer lines
        ToProbe,      // the probe is not echoed; "?" alone is an echo of it
        GroupEcho,    // a group of data lines and its sum, then "OK" or "RESEND"
        GroupAnswer,  // the group's echo went wrong: only "OK" or "RESEND" count
        EchoOnly,     // the echo is the whole answer
    };
    // How waiting for an answer ended.
    enum class Wait : std::uint8_t { Answered, TimedOut, AnsweredAtTimeOut, Stopped };

    // One command of the dialogue: its text, its time-out, and how many lines
    // of answer after the echo are judged.
    struct Command {
        std::string text;
        int slices;
        int lines = 1;
    };
    // What the user is told when a command's answer does not let the run go on.
    struct Refusal {
        const char* noAnswer;        // the time-out ran out
        const char* refused;         // any other answer
        bool showAnswer = false;     // `refused` is followed by the answer
        const char* note = nullptr;  // logged before the cancel on a refusal
    };
    struct Block {
        std::int32_t sector;
        std::int32_t address;
    };

    // The phases of a run, in order; each returns false when the run ends there.
    bool LoadImage(std::span<const std::uint8_t> text);
    bool Synchronise();
    bool Identify();
    bool CheckImageFits();
    bool Unlock();
    bool EraseSectors();
    bool WriteBlocks();
    bool VerifyFlash();
    bool StartFirmware();

    std::optional<bool> SectorIsBlank(std::int32_t sector);
    bool WriteBlock(const Block& block);
    // Reads count flash bytes from address back ("R") and compares them with
    // the image.
    bool VerifyRange(std::int32_t address, std::int32_t count);
    // Takes one group of read-back lines and its sum from the answer; false
    // when the lines are not well-formed or do not add up to the sum.
    bool TakeReadGroup(int lines, std::vector<std::uint8_t>& bytes) const;
    // Sends count image bytes from address as data lines into the chip's RAM
    // buffer, a checksum after every group of lines.
    bool TransferToRam(std::int32_t address, std::int32_t count);
    // Sends one group of data lines (lineEnds: where each line's CR LF ends)
    // and its sum line; re-sends it while the chip answers "RESEND".
    bool SendGroup(const std::string& lines, const std::vector<std::size_t>& lineEnds,
                   const std::string& sumLine);
    // Every block of every sector of the chip, in flash order.
    std::vector<Block> Blocks() const;
    bool HasData(const Block& block) const;

    // The command primitive: sends the command and judges the first line of
    // its answer. True when it is `accepted`; otherwise the run is cancelled
    // with the refusal's texts (or was stopped).
    bool Exchange(const Command& command, const char* accepted, const Refusal& refusal);
    // The same judgement of an answer awaited after a Send of the caller's own.
    bool Judge(Wait wait, const char* accepted, const Refusal& refusal);
    void Send(const Command& command, Reply reply = Reply::AfterEcho);
    void Write(std::string_view bytes);
    // Reads slice by slice until `lines` answer lines are there, the time-out
    // armed by the last Send runs out, or Stop was asked for.
    Wait Await(int lines);
    bool ReadSlice();
    // With nothing left unread, sleeps (at most limitMs) until the earliest
    // time the rest of the echo, and of an answer whose least length is
    // known, can all have arrived.
    void AwaitRestOfAnswer(unsigned limitMs);
    // Feeds what has arrived, without waiting.
    void TakeArrived();
    // Feeds the bytes read but not fed yet, up to the end of a line.
    bool FeedInbox();
    bool Feed(std::uint8_t byte);
    int LineCount() const;
    bool AnswerStartsWith(const char* line) const;
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Cancel(const char* message);

    FlashImage image_;
    std::int32_t highestAddress_ = -1;
    const ChipRow* chip_ = nullptr;
    bool verify_ = false;

    Reply reply_ = Reply::AfterEcho;
    char echo_[kBufferSize] = {};
    int echoLength_ = 0;
    int echoPos_ = -1;  // -1: none, after a mismatch or a time-out
    char response_[kBufferSize] = {};
    int responseEnd_ = 0;
    // The fewest answer characters the chip sends before the awaited lines
    // are complete, where the command tells (0: not known).
    int answerLeast_ = 0;
    // A line of the answer was completed while the host was still sending.
    bool lineWaiting_ = false;
    // Reads take all that has arrived at once; what follows a completed line
    // waits here for the next command, in the order it came.
    std::uint8_t inbox_[256] = {};
    int inboxPos_ = 0;
    int inboxEnd_ = 0;
    std::int32_t timeoutSlices_ = 0;
    // Accepted checksum groups and copied blocks.
    std::int32_t progressCount_ = 0;
    // The position last reported to the bar.
    std::int32_t progressShown_ = 0;
};

}  // namespace korvel
