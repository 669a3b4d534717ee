#include "cli/console_dialogs.h"

#include <utility>

#include "cli/cli_platform.h"

namespace korvel::cli {

namespace {
// How often a modeless dialog's poll is asked.
constexpr auto kPollStep = std::chrono::milliseconds(10);
}  // namespace

ConsoleDialogs::ConsoleDialogs(std::FILE* out, std::function<void(std::chrono::milliseconds)> idle)
    : out_(out), idle_(std::move(idle)) {}

int ConsoleDialogs::pollUntilClosed(const DialogPoll& poll) {
    if (poll) {
        poll(true);
        while (!poll(false)) {
            idle_(kPollStep);
        }
    }
    return DialogClosedByPoll;
}

int ConsoleDialogs::ShowOk(const std::string& text) {
    say(text);
    return DialogOk;
}

int ConsoleDialogs::ShowOkUntil(const std::string& text, const DialogPoll& poll) {
    say(text);
    return pollUntilClosed(poll);
}

int ConsoleDialogs::ShowNo(const std::string& text) {
    say(text);
    return DialogNo;
}

int ConsoleDialogs::ShowNoUntil(const std::string& text, const DialogPoll& poll) {
    say(text);
    return pollUntilClosed(poll);
}

int ConsoleDialogs::AskYesNo(const std::string& text) {
    say(text + " [y/N]");
    const std::string answer = ReadInputLine(true, out_);
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y') ? DialogYes : DialogNo;
}

int ConsoleDialogs::AskYesNoUntil(const std::string& text, const DialogPoll& poll) {
    // No way to wait for a key and a poll at once on a plain terminal: the
    // question is answered by the poll, as an unattended station would.
    say(text);
    return pollUntilClosed(poll);
}

}  // namespace korvel::cli
