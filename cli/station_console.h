#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/console_dialogs.h"
#include "cli/console_progress.h"
#include "jobs/ui_targets.h"

namespace korvel::cli {

// The headless front end's view of several boards at once. On a terminal
// each board has one live line (port, bar, phase) redrawn in place, never
// wider than the terminal (port names shortened in the middle), with
// messages printed above the lines; on a pipe or file every status text,
// every tenth of the progress and every message is a plain line that starts
// with the board's port. Port names, status texts and messages are shown
// escaped (PrintableText). Runs on the main thread only.
class StationConsole {
  public:
    // idle: called while a modeless dialog waits for its poll, so that the
    // other boards' reports are served meanwhile. columns: the terminal's
    // width now (0: unknown); by default TerminalWidth(out).
    StationConsole(std::FILE* out, bool interactive, const std::vector<std::string>& ports,
                   std::function<void(std::chrono::milliseconds)> idle,
                   std::function<int()> columns = {});

    StationConsole(const StationConsole&) = delete;
    StationConsole& operator=(const StationConsole&) = delete;

    class Board : public ProgressTarget, public StatusTarget, public ConsoleDialogs {
      public:
        Board(StationConsole& console, std::size_t index);
        void setMaximum(int maximum) override;
        void setPosition(int position) override;
        int position() const override { return progress_.position(); }
        void setText(const std::string& text) override;
        // The last status text shown.
        const std::string& status() const { return status_; }

        int AskPassword(const std::string& prompt, const std::string& expected) override;

      protected:
        void say(const std::string& text) override;

      private:
        friend class StationConsole;
        void changed();

        StationConsole& console_;
        std::size_t index_;
        ConsoleProgress progress_;
        std::string status_;
    };

    Board& board(std::size_t index) { return *boards_.at(index); }
    // A line about one board (its port in front), above the live lines.
    void message(std::size_t index, const std::string& text);
    // A line about every board.
    void message(const std::string& text);

  private:
    // Prints text line by line, each with prefix in front, above the live lines.
    void print(const std::string& prefix, const std::string& text);
    void drawLines();
    // Redraws the live lines when the board's own line reads differently:
    // most reports do not change what a terminal shows.
    void drawLinesIfChanged(std::size_t index);
    void eraseLines();
    std::string lineOf(std::size_t index, std::size_t room) const;

    std::FILE* out_;
    bool interactive_;
    std::vector<std::string> ports_;
    std::size_t portWidth_ = 0;
    std::function<void(std::chrono::milliseconds)> idle_;
    std::function<int()> columns_;
    std::vector<std::unique_ptr<Board>> boards_;
    bool linesShown_ = false;
    std::vector<std::string> shownLines_;  // as last drawn
};

}  // namespace korvel::cli
