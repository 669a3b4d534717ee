#include "cli/station_console.h"

#include <algorithm>

#include "cli/cli_platform.h"
#include "cli/console_text.h"
#include "package/printable_text.h"

namespace korvel::cli {

namespace {
constexpr int kBarWidth = 20;
constexpr std::size_t kStatusWidth = 40;
// Where a narrow terminal takes room from first: the status down to this,
// then the port names down to this.
constexpr std::size_t kShortestStatus = 16;
constexpr std::size_t kShortestPort = 9;

}  // namespace

StationConsole::StationConsole(std::FILE* out, bool interactive,
                               const std::vector<std::string>& ports,
                               std::function<void(std::chrono::milliseconds)> idle,
                               std::function<int()> columns)
    : out_(out), interactive_(interactive), idle_(std::move(idle)), columns_(std::move(columns)) {
    if (!columns_) {
        columns_ = [out] { return TerminalWidth(out); };
    }
    for (const std::string& port : ports) {
        ports_.push_back(PrintableText(port));
        portWidth_ = std::max(portWidth_, ports_.back().size());
    }
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        boards_.push_back(std::make_unique<Board>(*this, i));
    }
}

std::string StationConsole::lineOf(std::size_t index, std::size_t room) const {
    const Board& b = *boards_[index];
    const std::string bar = b.progress_.bar(kBarWidth);
    std::size_t portWidth = portWidth_;
    std::size_t statusWidth = kStatusWidth;
    const auto over = [&] {
        const std::size_t total = portWidth + 1 + bar.size() + 2 + statusWidth;
        return total > room ? total - room : 0;
    };
    statusWidth -= std::min(over(), statusWidth - kShortestStatus);
    portWidth -= std::min(over(), portWidth - std::min(portWidth, kShortestPort));
    statusWidth -= std::min(over(), statusWidth);
    std::string port = ShortenedInMiddle(ports_[index], portWidth);
    port.resize(portWidth, ' ');
    std::string status = CutToWidth(PrintableText(b.status_), statusWidth);
    status.resize(statusWidth, ' ');
    // Narrower than even that: the line's end gives way.
    return CutToWidth(port + " " + bar + "  " + status, room);
}

void StationConsole::drawLines() {
    if (linesShown_) {
        // Back to the first live line.
        std::fprintf(out_, "\x1b[%zuA", boards_.size());
    }
    shownLines_.clear();
    const std::size_t room = RedrawRoom(columns_());
    for (std::size_t i = 0; i < boards_.size(); ++i) {
        shownLines_.push_back(lineOf(i, room));
        std::fprintf(out_, "\r%s\x1b[K\n", shownLines_.back().c_str());
    }
    linesShown_ = true;
    std::fflush(out_);
}

void StationConsole::drawLinesIfChanged(std::size_t index) {
    if (!linesShown_ || lineOf(index, RedrawRoom(columns_())) != shownLines_.at(index)) {
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
    for (const std::string& line : ShownLines(text)) {
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
