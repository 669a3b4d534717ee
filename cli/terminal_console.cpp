#include "cli/terminal_console.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "cli/cli_platform.h"
#include "package/printable_text.h"

namespace korvel::cli {

namespace {
constexpr int kBarWidth = 30;

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}
}  // namespace

TerminalConsole::TerminalConsole(std::FILE* out, bool interactive)
    : ConsoleDialogs(out,
                     [](std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); }),
      out_(out),
      interactive_(interactive) {}

void TerminalConsole::draw() {
    if (interactive_) {
        std::fprintf(out_, "\r%s  %-30.30s", progress_.bar(kBarWidth).c_str(), status_.c_str());
        lineOpen_ = true;
    } else if (const auto tenth = progress_.newTenth()) {
        std::fprintf(out_, "Progress: %d%%\n", *tenth * 10);
    }
    std::fflush(out_);
}

void TerminalConsole::setMaximum(int maximum) {
    progress_.setMaximum(maximum);
    draw();
}

void TerminalConsole::setPosition(int position) {
    progress_.setPosition(position);
    draw();
}

void TerminalConsole::setText(const std::string& text) {
    // A status may quote a board's answer: never to the terminal raw.
    status_ = PrintableText(text);
    if (interactive_) {
        draw();
    } else {
        std::fprintf(out_, "Status: %s\n", status_.c_str());
        std::fflush(out_);
    }
}

void TerminalConsole::finishLine() {
    if (lineOpen_) {
        std::fputc('\n', out_);
        lineOpen_ = false;
    }
}

void TerminalConsole::message(const std::string& text) {
    finishLine();
    std::string shown = text;
    // Messages carry Windows line ends; a terminal wants plain ones.
    for (std::size_t at = shown.find("\r\n"); at != std::string::npos;
         at = shown.find("\r\n", at)) {
        shown.erase(at, 1);
    }
    std::fprintf(out_, "%s\n", shown.c_str());
    std::fflush(out_);
}

int TerminalConsole::AskPassword(const std::string& prompt, const std::string& expected) {
    finishLine();
    std::fprintf(out_, "%s: ", prompt.c_str());
    std::fflush(out_);
    const std::string typed = ReadInputLine(false, out_);
    if (Upper(typed) != Upper(expected)) {
        message("Wrong password");
        return DialogNo;
    }
    return DialogYes;
}

}  // namespace korvel::cli
