// The settings file on arbitrary text: loading never fails and yields a port
// in range; saving a setting changes that setting only, so every other
// section reads back as it was.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/ini_file.h"
#include "settings/settings.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::string FileOf(const std::string& text, int& fd) {
    fd = ::memfd_create("settings", 0);
    Require(fd >= 0);
    Require(::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()));
    return "/proc/self/fd/" + std::to_string(fd);
}

// A value the file can hold as it is: no blanks at its ends, no line break,
// no enclosing quotes.
std::string PlainValue(const std::string& text) {
    std::string value;
    for (char c : text) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
            c == '/' || c == '.' || c == '_') {
            value.push_back(c);
        }
    }
    return value.substr(0, 40);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    int fd = -1;
    const std::string path = FileOf(text, fd);
    korvel::Settings settings(path, /*readOnly=*/true);
    settings.Load({});
    ::close(fd);
    Require(settings.serialPort >= 1 && settings.serialPort <= korvel::Settings::kMaxPort);

    const korvel::IniFile before(text);
    korvel::IniFile after(text);
    const std::string value = PlainValue(text);
    after.set(korvel::Settings::kSection, "LastFiles", value);
    const korvel::IniFile reread(after.text());
    Require(reread.get(korvel::Settings::kSection, "LastFiles") == value);
    Require(reread.entries(korvel::Settings::kPortsSection) ==
            before.entries(korvel::Settings::kPortsSection));
    Require(reread.entries("OTHER") == before.entries("OTHER"));
    return 0;
}
