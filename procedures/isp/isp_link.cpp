#include "procedures/isp/isp_link.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "serial/deadline.h"
#include "util/decimal.h"

namespace korvel {

namespace {

// The boot loader's return codes, by their number.
constexpr auto kReturnCodes = std::to_array<const char*>({
    "CMD_SUCCESS",         "INVALID_COMMAND",
    "SRC_ADDR_ERROR",      "DST_ADDR_ERROR",
    "SRC_ADDR_NOT_MAPPED", "DST_ADDR_NOT_MAPPED",
    "COUNT_ERROR",         "INVALID_SECTOR",
    "SECTOR_NOT_BLANK",    "SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION",
    "COMPARE_ERROR",       "BUSY",
    "PARAM_ERROR",         "ADDR_ERROR",
    "ADDR_NOT_MAPPED",     "CMD_LOCKED",
    "INVALID_CODE",        "INVALID_BAUD_RATE",
    "INVALID_STOP_BIT",    "CODE_READ_PROTECTION_ENABLED",
});

}  // namespace

std::string IspReturnCode(int code) {
    const std::string number = std::to_string(code);
    if (code < 0 || static_cast<std::size_t>(code) >= kReturnCodes.size()) {
        return "unknown return code " + number;
    }
    return std::string(kReturnCodes[static_cast<std::size_t>(code)]) + " (" + number + ")";
}

std::string_view IspAnswer::line(int i) const {
    std::string_view rest = text;
    for (;; --i) {
        const std::size_t end = rest.find("\r\n");
        if (end == std::string_view::npos) {
            return {};
        }
        if (i == 0) {
            return rest.substr(0, end);
        }
        rest.remove_prefix(end + 2);
    }
}

std::optional<int> IspAnswer::code() const {
    const std::string_view first = line(0);
    // Return codes have at most two digits; a longer number is data.
    if (first.size() > 2) {
        return std::nullopt;
    }
    const auto value = ParseDecimal<std::uint32_t>(first);
    return value ? std::optional<int>(static_cast<int>(*value)) : std::nullopt;
}

IspLink::IspLink(SerialPort& port, const std::atomic<bool>& stop, std::function<void()> onWait)
    : port_(port), stop_(stop), onWait_(std::move(onWait)) {}

IspAnswer IspLink::Exchange(std::string_view command, int slices, int lines, Reply reply) {
    Send(command, slices, reply);
    const IspWait wait = Await(lines);
    return Taken(wait);
}

void IspLink::Send(std::string_view text, int slices, Reply reply) {
    if (reply != Reply::GroupEcho) {
        Write(text);
    }
    reply_ = reply;
    // The probe is the one command the boot loader does not echo.
    echo_.assign(reply == Reply::ToProbe
                     ? std::string_view()
                     : text.substr(0, std::min<std::size_t>(text.size(), kBufferSize - 1)));
    echoPos_ = 0;
    responseEnd_ = 0;
    response_[0] = '\0';
    answerLeast_ = 0;
    lineWaiting_ = false;
    timeoutSlices_ = slices;
}

IspWait IspLink::SendDataGroup(std::span<const std::uint8_t> bytes, int slices, int resends) {
    std::string lines;
    std::vector<std::size_t> lineEnds;
    std::uint32_t sum = 0;
    for (std::size_t offset = 0; offset < bytes.size();) {
        const std::size_t n =
            std::min<std::size_t>(FlashImage::kMaxLineBytes, bytes.size() - offset);
        const auto line = bytes.subspan(offset, n);
        for (const std::uint8_t b : line) {
            sum += b;
        }
        offset += n;
        lines += UuencodeLine(line, static_cast<int>(n));
        lines += "\r\n";
        lineEnds.push_back(lines.size());
    }
    const std::string sumLine = std::to_string(sum) + "\r\n";
    for (;;) {
        const IspWait wait = SendGroup(lines, lineEnds, sumLine, slices);
        if (wait != IspWait::Answered || !answer().starts_with("RESEND\r\n") || resends-- == 0) {
            return wait;
        }
    }
}

IspWait IspLink::ReceiveDataGroup(std::int32_t count, int slices, int resends,
                                  std::vector<std::uint8_t>& bytes) {
    constexpr std::int32_t kLineBytes = FlashImage::kMaxLineBytes;
    const int lines = (count + kLineBytes - 1) / kLineBytes;
    for (;;) {
        // The least the chip sends for the group: each line's length
        // character, four characters for every three bytes and CR LF, then a
        // sum of one digit.
        answerLeast_ = 3;
        for (std::int32_t left = count; left > 0; left -= kLineBytes) {
            const std::int32_t n = std::min(left, kLineBytes);
            answerLeast_ += 1 + 4 * ((n + 2) / 3) + 2;
        }
        // Each line of the group, and its sum, gets the whole time-out.
        IspWait wait = IspWait::Answered;
        for (int line = 1; line <= lines + 1 && wait == IspWait::Answered; ++line) {
            timeoutSlices_ = slices;
            wait = Await(line);
        }
        bytes.clear();
        if (wait != IspWait::Answered ||
            (DecodeGroup(lines, bytes) && static_cast<std::int32_t>(bytes.size()) == count)) {
            return wait;
        }
        bytes.clear();
        if (resends-- == 0) {
            return wait;
        }
        Send("RESEND\r\n", slices);
    }
}

bool IspLink::DecodeGroup(int lines, std::vector<std::uint8_t>& bytes) const {
    std::string_view rest = answer();
    const auto nextLine = [&rest]() -> std::optional<std::string_view> {
        const std::size_t end = rest.find("\r\n");
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 2);
        return line;
    };
    for (int i = 0; i < lines; ++i) {
        const auto line = nextLine();
        if (!line || !UudecodeLine(*line, bytes)) {
            return false;
        }
    }
    std::uint32_t sum = 0;
    for (const std::uint8_t b : bytes) {
        sum += b;
    }
    const auto sumLine = nextLine();
    return sumLine && ParseDecimal<std::uint32_t>(*sumLine) == sum;
}

IspWait IspLink::SendGroup(std::string_view lines, std::span<const std::size_t> lineEnds,
                           std::string_view sumLine, int slices) {
    // The lines go out back to back: waiting for each echo would cost a
    // round trip per line, and behind a USB adapter that is its latency
    // timer each time. Echo stays on, so a line the chip heard wrongly
    // still shows; the chip's answer to the sum decides.
    std::string whole;
    whole.reserve(lines.size() + sumLine.size());
    whole.append(lines).append(sumLine);
    Send(whole, slices, Reply::GroupEcho);
    std::size_t begin = 0;
    for (const std::size_t end : lineEnds) {
        if (stop_) {
            return IspWait::Stopped;
        }
        Write(lines.substr(begin, end - begin));
        begin = end;
        TakeArrived();
    }
    Write(sumLine);
    return Await(1);
}

void IspLink::Write(std::string_view bytes) {
    port_.write(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                static_cast<std::uint16_t>(bytes.size()));
}

IspWait IspLink::Await(int lines) {
    for (;;) {
        if (onWait_) {
            onWait_();
        }
        if (stop_) {
            return IspWait::Stopped;
        }
        const bool complete = std::exchange(lineWaiting_, false) || ReadSlice();
        const bool answered = complete && LineCount() >= lines;
        if (timeoutSlices_ > 0 && --timeoutSlices_ == 0) {
            echoPos_ = -1;
            return answered ? IspWait::AnsweredAtTimeOut : IspWait::TimedOut;
        }
        if (answered) {
            return IspWait::Answered;
        }
    }
}

void IspLink::TakeArrived() {
    while (!lineWaiting_) {
        if (inboxPos_ == inboxEnd_) {
            inboxPos_ = 0;
            inboxEnd_ = port_.readAvailable(inbox_, sizeof inbox_);
            if (inboxEnd_ == 0) {
                return;
            }
        }
        lineWaiting_ = FeedInbox();
    }
}

bool IspLink::ReadSlice() {
    if (FeedInbox()) {
        return true;
    }
    // A slice ends early when a line of the answer is complete.
    const Deadline slice(port_, kSliceMs);
    for (unsigned left = kSliceMs; left > 0; left = slice.remainingMs()) {
        inboxPos_ = 0;
        inboxEnd_ = port_.readWithin(inbox_, sizeof inbox_, left);
        if (FeedInbox()) {
            return true;
        }
        if (inboxEnd_ > 0 && inboxEnd_ < static_cast<int>(sizeof inbox_)) {
            AwaitRestOfAnswer(slice.remainingMs());
        }
    }
    return false;
}

void IspLink::AwaitRestOfAnswer(unsigned limitMs) {
    if (port_.baudRate() <= 0) {
        return;
    }
    // The read took all there was, and what is still to come cannot come
    // faster than the line carries it (ten bits a character at the least).
    // Waking for every few characters of a long echo or answer costs the
    // host far more than the one sleep does; the sleep ends no later than
    // the last of those characters can have arrived, so the run is not slowed.
    const int echoLeft = echoPos_ >= 0 ? static_cast<int>(echo_.size()) - echoPos_ : 0;
    const auto pending =
        static_cast<std::uint64_t>(echoLeft + std::max(0, answerLeast_ - responseEnd_));
    const auto earliestMs = pending * 10 * 1000 / static_cast<std::uint64_t>(port_.baudRate());
    if (earliestMs > 1) {
        port_.sleepMs(static_cast<unsigned>(std::min<std::uint64_t>(earliestMs, limitMs)));
    }
}

bool IspLink::FeedInbox() {
    while (inboxPos_ < inboxEnd_) {
        if (Feed(inbox_[inboxPos_++])) {
            return true;
        }
    }
    return false;
}

bool IspLink::Feed(std::uint8_t byte) {
    if (echoPos_ < 0) {
        return false;
    }
    if (responseEnd_ >= kBufferSize - 1) {
        // More than the dialogue ever expects without a command: take
        // nothing more, so the command runs into its time-out.
        echoPos_ = -1;
        return false;
    }
    if (reply_ == Reply::ToProbe && byte == '?') {
        // An echoed probe.
        response_[responseEnd_++] = '?';
        response_[responseEnd_] = '\0';
        timeoutSlices_ = 0;
        return true;
    }
    const int echoLength = static_cast<int>(echo_.size());
    if (echoPos_ < echoLength) {
        if (static_cast<char>(byte) == echo_[static_cast<std::size_t>(echoPos_)]) {
            ++echoPos_;
            return reply_ == Reply::EchoOnly && echoPos_ == echoLength;
        }
        if (reply_ != Reply::GroupEcho) {
            echoPos_ = -1;
            return false;
        }
        // A character of the group was lost or garbled on one way or the
        // other; only the chip's answer to the sum tells which. Skip to it.
        echoPos_ = echoLength;
        reply_ = Reply::GroupAnswer;
    }
    response_[responseEnd_++] = static_cast<char>(byte);
    response_[responseEnd_] = '\0';
    const bool lineDone = responseEnd_ >= 2 && response_[responseEnd_ - 2] == '\r' &&
                          response_[responseEnd_ - 1] == '\n';
    if (lineDone && reply_ == Reply::GroupAnswer && std::strcmp(response_, "OK\r\n") != 0 &&
        std::strcmp(response_, "RESEND\r\n") != 0) {
        // The rest of a garbled echo.
        responseEnd_ = 0;
        response_[0] = '\0';
        return false;
    }
    return lineDone;
}

int IspLink::LineCount() const {
    int lines = 0;
    for (const char* p = response_; (p = std::strstr(p, "\r\n")) != nullptr; p += 2) {
        ++lines;
    }
    return lines;
}

}  // namespace korvel
