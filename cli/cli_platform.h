#pragma once

#include <cstdio>
#include <map>
#include <string>

namespace korvel::cli {

// The few things the headless front end asks of the system it runs on. One
// backend per system, chosen by the build.

// Whether a stream is a terminal (progress is then redrawn in place).
bool IsTerminal(std::FILE* stream);
// Makes a terminal take the cursor movements that redraw lines in place;
// false where it cannot (an old Windows console).
bool EnableCursorControl(std::FILE* stream);

// The columns of the terminal a stream shows on; 0 when it is none or will
// not say.
int TerminalWidth(std::FILE* stream);

// Ctrl+C and the system's other requests to end a job (on POSIX SIGTERM and
// SIGHUP, a station's supervisor) count as requests to stop; what else one
// does is the StopMode's. While the program waits for a line of input any
// request ends the process at once with exitCode (the terminal is restored
// first). On POSIX a reader of the output that goes away (SIGPIPE) no longer
// ends the process: the write fails and says so.
void CatchStopRequests(int exitCode);
// How many stop requests came so far.
int StopRequests();

enum class StopMode {
    // The first request asks the run to stop, the second ends the process at once.
    SecondEnds,
    // Every request ends the process at once: nothing has started that must
    // be stopped in order (the steps before a station's boards start).
    FirstEnds,
    // Requests are only counted: the program's loop ends the process itself
    // once it has written what must not be lost (a station's record lines).
    LoopEnds,
};
// From now on; SecondEnds until changed.
void SetStopMode(StopMode mode);
// Whether the count-th request (1 for the first) ends the process from the
// signal handler.
constexpr bool StopEndsProcess(StopMode mode, int count, bool readingInput) {
    return readingInput || mode == StopMode::FirstEnds ||
           (mode == StopMode::SecondEnds && count >= 2);
}

// Reads one line from standard input, without a trailing carriage return.
// With echo off, what is typed on a terminal is not shown (passwords), and
// the line end is written to `out` instead, also when the input is not a
// terminal: the prompt's line is ended either way.
std::string ReadInputLine(bool echo, std::FILE* out);

// Lists the serial ports present, each with its COM<n>, and says how to use them.
// portMap: the settings' COM<n> to device mapping.
void PrintPorts(std::FILE* out, const std::map<int, std::string>& portMap,
                const std::string& settingsFile);

}  // namespace korvel::cli
