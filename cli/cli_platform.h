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

// Ctrl+C and the system's other requests to end a job (on POSIX SIGTERM and
// SIGHUP, a station's supervisor) count as requests to stop. The second one
// ends the process at once with exitCode, and so does the first while the
// program waits for a line of input (the terminal is restored first).
void CatchStopRequests(int exitCode);
// How many stop requests came so far.
int StopRequests();

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
