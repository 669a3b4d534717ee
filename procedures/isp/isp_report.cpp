#include "procedures/isp/isp_report.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "procedures/fault_reasons.h"

namespace korvel {

namespace {

constexpr int kLogCapacity = 512;

// clang-format off
constexpr auto kCommands = std::to_array<IspCommandRow>({
    // command                  slices accepted  no answer                            refused                         answer note       noun
    {IspCommand::ConfirmSync,   3,     "OK\r\n", "No response to complete baud sync",  "Unable to complete baud sync, ", true,  nullptr,   "the confirmation of the synchronisation"},
    {IspCommand::Crystal,       3,     "OK\r\n", "No response to crystal speed",       "wrong response to crystal: ",   true,  nullptr,   nullptr},
    {IspCommand::Identify,      3,     "0\r\n",  "No response to unlock command",      "wrong response to ID: ",        true,  nullptr,   "the request for its part id"},
    {IspCommand::BootCode,      4,     "0\r\n",  "No response to boot code version",   "wrong response to boot code version: ", true, nullptr, "the request for its boot code version"},
    {IspCommand::Unlock,        3,     "0\r\n",  "No response to unlock command",      "wrong response unlock: ",       true,  nullptr,   nullptr},
    {IspCommand::PrepareErase,  8,     "0\r\n",  "No response",                        "Unable to prep for write",      false, nullptr,   nullptr},
    {IspCommand::Erase,         25,    "0\r\n",  "No response",                        "Unable to erase flash",         false, "Error\r\n", nullptr},
    {IspCommand::WriteToRam,    4,     "0\r\n",  "No response",                        "can't xmit to ram",             false, nullptr,   nullptr},
    {IspCommand::DataGroup,     3,     "OK\r\n", "No response",                        "bad checksum",                  false, nullptr,   nullptr},
    {IspCommand::PrepareCopy,   5,     "0\r\n",  "No response",                        "Unable to prep for write",      false, nullptr,   nullptr},
    {IspCommand::Copy,          5,     "0\r\n",  "No response",                        "Unable to prep for write",      false, nullptr,   nullptr},
    {IspCommand::Compare,       3,     "0\r\n",  "No response",                        "Verify failed",                 false, nullptr,   nullptr},
    {IspCommand::Read,          3,     "0\r\n",  "No response",                        "can't read flash",              false, nullptr,   nullptr},
    // The lines of a read: any answer is taken, and read as data.
    {IspCommand::ReadLines,     3,     "",       "No response",                        "can't read flash",              false, nullptr,   nullptr},
    {IspCommand::LoadJump,      4,     "0\r\n",  "No response",                        "can't xmit to ram",             false, nullptr,   nullptr},
    // The jump program takes the loader away; silence here means it ran.
    {IspCommand::Go,            4,     "0\r\n",  "",                                   "couldn't run program",          false, nullptr,   nullptr},
});
// clang-format on

constexpr bool OneRowPerCommandInOrder() {
    for (std::size_t i = 0; i < kCommands.size(); ++i) {
        if (static_cast<std::size_t>(kCommands[i].command) != i) {
            return false;
        }
    }
    return kCommands.size() == static_cast<std::size_t>(IspCommand::Go) + 1;
}
static_assert(OneRowPerCommandInOrder(), "one row per IspCommand, in its order");

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

const IspCommandRow& IspCommandOf(IspCommand command) {
    return kCommands[static_cast<std::size_t>(command)];
}

bool IspReport::Judge(const IspAnswer& answer, IspCommand command, const std::string& what) {
    const IspCommandRow& row = IspCommandOf(command);
    const auto noun = [&] {
        return row.noun != nullptr ? std::string(row.noun) : "the command to " + what;
    };
    switch (answer.wait) {
        case IspWait::Stopped:
            return false;
        case IspWait::TimedOut:
        case IspWait::AnsweredAtTimeOut:
            return Cancel(row.noAnswer, FaultReason(Fault::NoAnswer, {noun(), kIspCheckBoard}));
        case IspWait::Answered:
            break;
    }
    if (answer.startsWith(row.accepted)) {
        return true;
    }
    if (row.note != nullptr) {
        Log("%s", row.note);
    }
    // A return code other than success is a refusal; anything else is not
    // the loader's word.
    const std::optional<int> code = answer.code();
    std::string reason = code && *code != 0
                             ? FaultReason(Fault::Refused, {what, IspReturnCode(*code)})
                             : FaultReason(Fault::Garbled, {noun(), EscapedAnswer(answer.line(0))});
    return Cancel(row.showAnswer ? (std::string(row.refused) + answer.text).c_str() : row.refused,
                  std::move(reason));
}

}  // namespace korvel
