#pragma once

#include <string>

namespace korvel {

// A text from a package (an entry's name or version) or from the user, made
// safe to show: every control character (C0, DEL and C1) is written as \xHH,
// so an escape sequence in a package never reaches a terminal or a label raw.
std::string PrintableText(const std::string& text);

}  // namespace korvel
