#include "cli/station_console.h"

#include <algorithm>

#include "cli/cli_platform.h"
#include "package/printable_text.h"

namespace korvel::cli {

namespace {
constexpr int kBarWidth = 20;

// Messages carry Windows line ends; a terminal wants plain ones, and a
// board's message one line per line, each with the port in front.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line += c;
        }
    }
    lines.push_back(line);
    return lines;
}
}  // namespace

StationConsole::StationConsole(std::FILE* out, bool interactive,
                               const std::vector<std::string>& ports,
                               std::function<void(std::chrono::milliseconds)> idle)
    : out_(out), interactive_(interactive), ports_(ports), idle_(std::move(idle)) {
    for (const std::string& port : ports_) {
        portWidth_ = std::max(portWidth_, port.size());
    }
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        boards_.push_back(std::make_unique<Board>(*this, i));
    }
}

std::string StationConsole::lineOf(std::size_t index) const {
    const Board& b = *boards_[index];
    char text[256];
    std::snprintf(text, sizeof text, "%-*s %s  %-40.40s", static_cast<int>(portWidth_),
                  ports_[index].c_str(), b.progress_.bar(kBarWidth).c_str(), b.status_.c_str());
    return text;
}

void StationConsole::drawLines() {
    if (linesShown_) {
        // Back to the first live line.
        std::fprintf(out_, "\x1b[%zuA", boards_.size());
    }
    shownLines_.clear();
    for (std::size_t i = 0; i < boards_.size(); ++i) {
        shownLines_.push_back(lineOf(i));
        std::fprintf(out_, "\r%s\x1b[K\n", shownLines_.back().c_str());
    }
    linesShown_ = true;
    std::fflush(out_);
}

void StationConsole::drawLinesIfChanged(std::size_t index) {
    if (!linesShown_ || lineOf(index) != shownLines_.at(index)) {
        drawLines();
    }
}

void StationConsole::eraseLines() {
    if (linesShown_) {
        std::fprintf(out_, "\x1b[%zuA\r\x1b[J", boards_.size());
        linesShown_ = false;
    }
}

void StationConsole::message(std::size_t index, const std::string& text) {
    print(ports_.at(index) + ": ", text);
}

void StationConsole::message(const std::string& text) {
    print("", text);
}

void StationConsole::print(const std::string& prefix, const std::string& text) {
    if (interactive_) {
        eraseLines();
    }
    for (const std::string& line : Lines(text)) {
        std::fprintf(out_, "%s%s\n", prefix.c_str(), line.c_str());
    }
    if (interactive_) {
        drawLines();
    }
    std::fflush(out_);
}

// As a window's modeless dialog does, a board's dialog lets the other
// boards' reports go on while it waits.
StationConsole::Board::Board(StationConsole& console, std::size_t index)
    : ConsoleDialogs(console.out_, console.idle_), console_(console), index_(index) {}

void StationConsole::Board::changed() {
    if (console_.interactive_) {
        console_.drawLinesIfChanged(index_);
    } else if (const auto tenth = progress_.newTenth()) {
        console_.message(index_, "Progress: " + std::to_string(*tenth * 10) + "%");
    }
}

void StationConsole::Board::setMaximum(int maximum) {
    progress_.setMaximum(maximum);
    changed();
}

void StationConsole::Board::setPosition(int position) {
    progress_.setPosition(position);
    changed();
}

void StationConsole::Board::setText(const std::string& text) {
    // A status may quote a board's answer: never to the terminal raw.
    status_ = PrintableText(text);
    if (console_.interactive_) {
        console_.drawLinesIfChanged(index_);
    } else {
        console_.message(index_, "Status: " + status_);
    }
}

void StationConsole::Board::say(const std::string& text) {
    console_.message(index_, text);
}

int StationConsole::Board::AskPassword(const std::string&, const std::string&) {
    // The access code is asked once, before any board starts.
    return DialogNo;
}

}  // namespace korvel::cli
