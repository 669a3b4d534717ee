#include "serial/win32_error_text.h"

namespace korvel {

namespace {
// Error texts are short; a longer one is cut, never overrun.
constexpr DWORD kErrorTextCapacity = 512;
}  // namespace

std::string Win32ErrorText(DWORD code) {
    char text[kErrorTextCapacity] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, text, kErrorTextCapacity, nullptr);
    std::string result(text, n);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == ' ' || result.back() == '.')) {
        result.pop_back();
    }
    return result.empty() ? "system error " + std::to_string(code) : result;
}

}  // namespace korvel
