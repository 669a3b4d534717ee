#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace korvel::cli {

// A message as the lines a terminal shows: split at its line ends (Windows
// or plain), each line escaped (PrintableText), so that no control
// character of a port name or a value reaches the terminal.
std::vector<std::string> ShownLines(const std::string& text);

// A redrawn line must fit the terminal: one that wraps pushes the lines
// above it up on every redraw. Widths are counted in bytes, never fewer than
// the columns shown, and texts are cut only between characters.

// The columns a redrawn line may take on a terminal `columns` wide: all but
// the last, where some terminals wrap at once. 0 (width unknown): no limit.
std::size_t RedrawRoom(int columns);

// At most `width` bytes of text: its start, "...", its end.
std::string ShortenedInMiddle(const std::string& text, std::size_t width);

// The first at most `width` bytes of text.
std::string CutToWidth(const std::string& text, std::size_t width);

}  // namespace korvel::cli
