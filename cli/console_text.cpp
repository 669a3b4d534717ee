#include "cli/console_text.h"

#include <limits>

#include "package/printable_text.h"

namespace korvel::cli {

namespace {

constexpr std::string_view kEllipsis = "...";

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::vector<std::string> ShownLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t begin = 0;;) {
        const std::size_t end = text.find('\n', begin);
        std::string line = text.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(PrintableText(line));
        if (end == std::string::npos) {
            return lines;
        }
        begin = end + 1;
    }
}

std::size_t RedrawRoom(int columns) {
    return columns > 0 ? static_cast<std::size_t>(columns - 1)
                       : std::numeric_limits<std::size_t>::max();
}

std::string CutToWidth(const std::string& text, std::size_t width) {
    if (text.size() <= width) {
        return text;
    }
    std::size_t end = width;
    while (end > 0 && IsContinuationByte(text[end])) {
        --end;
    }
    return text.substr(0, end);
}

std::string ShortenedInMiddle(const std::string& text, std::size_t width) {
    if (text.size() <= width) {
        return text;
    }
    if (width <= kEllipsis.size()) {
        return CutToWidth(text, width);
    }
    const std::size_t kept = width - kEllipsis.size();
    std::size_t tail = text.size() - kept / 2;
    while (tail < text.size() && IsContinuationByte(text[tail])) {
        ++tail;
    }
    return CutToWidth(text, kept - kept / 2) + std::string(kEllipsis) + text.substr(tail);
}

}  // namespace korvel::cli
