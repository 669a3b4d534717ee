#include "procedures/isp/isp_report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "procedures/fault_reasons.h"

namespace korvel {

namespace {

constexpr int kLogCapacity = 512;

bool IsBlankOrControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= ' ' || u == 0x7F;
}

}  // namespace

std::string IspFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(again);
    return text;
}

void IspReport::Log(const char* format, ...) {
    char text[kLogCapacity];
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(text, sizeof text, format, args) < 0) {
        text[0] = '\0';
    }
    va_end(args);
    // Only the first line of a text is shown.
    if (char* cr = std::strchr(text, '\r')) {
        *cr = '\0';
    }
    std::size_t end = std::strlen(text);
    while (end > 0 && IsBlankOrControl(text[end - 1])) {
        --end;
    }
    std::size_t begin = 0;
    while (begin < end && IsBlankOrControl(text[begin])) {
        ++begin;
    }
    if (end > begin && text[end - 1] == ':') {
        --end;
    }
    context_.Status("%s", std::string(text + begin, end - begin).c_str());
}

bool IspReport::Cancel(const char* message, std::string reason) {
    Log("\r\nDownload Canceled");
    // A message that opens with a blank line still shows its first words.
    message += std::strspn(message, "\r\n");
    if (*message != '\0') {
        Log(": %s", message);
    }
    Log("\r\n");
    context_.Fail(RunResult::ProgrammingError, std::move(reason));
    return false;
}

bool IspReport::Judge(const IspAnswer& answer, const char* accepted, const IspStep& step) {
    const auto noun = [&step] {
        return step.noun != nullptr ? std::string(step.noun) : "the command to " + step.what;
    };
    switch (answer.wait) {
        case IspWait::Stopped:
            return false;
        case IspWait::TimedOut:
        case IspWait::AnsweredAtTimeOut:
            return Cancel(step.noAnswer, FaultReason(Fault::NoAnswer, {noun(), kIspCheckBoard}));
        case IspWait::Answered:
            break;
    }
    if (answer.startsWith(accepted)) {
        return true;
    }
    if (step.note != nullptr) {
        Log("%s", step.note);
    }
    // A return code other than success is a refusal; anything else is not
    // the loader's word.
    const std::optional<int> code = answer.code();
    std::string reason = code && *code != 0
                             ? FaultReason(Fault::Refused, {step.what, IspReturnCode(*code)})
                             : FaultReason(Fault::Garbled, {noun(), EscapedAnswer(answer.line(0))});
    return Cancel(
        step.showAnswer ? (std::string(step.refused) + answer.text).c_str() : step.refused,
        std::move(reason));
}

}  // namespace korvel
