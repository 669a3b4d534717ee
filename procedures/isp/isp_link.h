#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "procedures/isp/flash_image.h"
#include "serial/serial_port.h"

namespace korvel {

// A return code of the boot loader by name and number: "BUSY (11)".
std::string IspReturnCode(int code);

// How waiting for an answer ended.
enum class IspWait : std::uint8_t { Answered, TimedOut, AnsweredAtTimeOut, Stopped };

// What came back for one command, after its echo.
struct IspAnswer {
    IspWait wait = IspWait::TimedOut;
    // The answer lines as received, CR LF included.
    std::string text;

    bool startsWith(std::string_view line) const { return text.starts_with(line); }
    // Line i (from 0) without its line end; empty past the last whole line.
    std::string_view line(int i) const;
    // The first line as a return code; none when it is not a decimal number.
    std::optional<int> code() const;
};

// The text line to an LPC2000 ISP boot loader: a command goes out, its echo
// is matched character by character, and the answer lines after it are
// collected. Waits run one slice (at most 2 s) at a time, so that a stop is
// seen between slices and a time-out counts in slices.
class IspLink {
  public:
    // Characters kept of a command's echo and of the answer after it.
    static constexpr int kBufferSize = 4096;
    static constexpr std::uint32_t kSliceMs = 2000;

    // How the answer to what was sent comes back.
    enum class Reply : std::uint8_t {
        AfterEcho,    // the command's echo, then the answer lines
        ToProbe,      // the probe is not echoed; "?" alone is an echo of it
        GroupEcho,    // a group of data lines and its sum, then "OK" or "RESEND"
        GroupAnswer,  // the group's echo went wrong: only "OK" or "RESEND" count
        EchoOnly,     // the echo is the whole answer
    };

    // stop is looked at before every slice; onWait runs there too (the
    // procedure's progress report).
    IspLink(SerialPort& port, const std::atomic<bool>& stop, std::function<void()> onWait);

    // One exchange: sends the command and waits up to `slices` for `lines`
    // answer lines after its echo.
    IspAnswer Exchange(std::string_view command, int slices, int lines = 1,
                       Reply reply = Reply::AfterEcho);

    // The parts of an exchange, for dialogues of more than one answer.
    // Sends text (nothing for an empty one) and arms the wait for its answer.
    void Send(std::string_view text, int slices, Reply reply = Reply::AfterEcho);
    // Waits until `lines` answer lines are there, the time-out runs out, or
    // a stop was asked for.
    IspWait Await(int lines);

    // Data (after "W" and "R") moves in groups of up to kLinesPerGroup lines
    // of up to 45 bytes, each group followed by the decimal sum of its bytes.
    static constexpr int kLinesPerGroup = 20;
    static constexpr std::int32_t kGroupBytes = kLinesPerGroup * FlashImage::kMaxLineBytes;
    // Sends one group (at most kGroupBytes) as data lines and its sum line
    // back to back, then waits for the chip's one answer line; sends it
    // again while that is "RESEND", up to `resends` more times. Stopped as
    // soon as a stop is asked for between lines.
    IspWait SendDataGroup(std::span<const std::uint8_t> bytes, int slices, int resends);
    // Takes the next group of `count` bytes the chip sends back and its sum,
    // each line within `slices`; asks for it again ("RESEND") while it comes
    // garbled or does not add up, up to `resends` more times. Answered with
    // bytes holding the group when it came whole; with bytes empty when it
    // never did.
    IspWait ReceiveDataGroup(std::int32_t count, int slices, int resends,
                             std::vector<std::uint8_t>& bytes);

    // The answer so far, CR LF included.
    std::string_view answer() const { return {response_, static_cast<std::size_t>(responseEnd_)}; }
    IspAnswer Taken(IspWait wait) const { return {wait, std::string(answer())}; }

  private:
    // Group lines and their sum line, lineEnds: where each line's CR LF ends.
    IspWait SendGroup(std::string_view lines, std::span<const std::size_t> lineEnds,
                      std::string_view sumLine, int slices);
    // The answer's first `lines` lines decoded, then its sum line checked.
    bool DecodeGroup(int lines, std::vector<std::uint8_t>& bytes) const;
    void Write(std::string_view bytes);
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

    SerialPort& port_;
    const std::atomic<bool>& stop_;
    std::function<void()> onWait_;

    Reply reply_ = Reply::AfterEcho;
    std::string echo_;
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
};

}  // namespace korvel
