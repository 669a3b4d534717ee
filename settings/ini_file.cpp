#include "settings/ini_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string_view>
#include <system_error>

namespace korvel {

namespace {

std::string Trim(const std::string& s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) {
        ++b;
    }
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) {
        --e;
    }
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// "[name]" gives name; anything else nullopt.
std::optional<std::string> SectionName(const std::string& line) {
    const std::string t = Trim(line);
    if (t.size() >= 2 && t.front() == '[') {
        const std::size_t close = t.find(']');
        if (close != std::string::npos) {
            return Trim(t.substr(1, close - 1));
        }
    }
    return std::nullopt;
}

// Beside the target, unlikely to exist: 64 random bits in the name.
std::string TemporaryName(const std::filesystem::path& target) {
    static std::mt19937_64 random{std::random_device{}()};
    static std::mutex randomMutex;
    std::error_code ec;
    std::string name;
    do {
        std::uint64_t bits = 0;
        {
            std::lock_guard lock(randomMutex);
            bits = random();
        }
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(bits));
        name = target.string() + suffix;
    } while (std::filesystem::exists(std::filesystem::symlink_status(name, ec)));
    return name;
}

// Overwrites the file from its start and cuts it to the new length: no new
// file is made, so the file keeps its owner, permissions and links.
bool WriteInPlace(const std::filesystem::path& target, const std::string& text) {
    {
        std::fstream out(target, std::ios::binary | std::ios::in | std::ios::out);
        if (!out) {
            return false;
        }
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::resize_file(target, text.size(), ec);
    return !ec;
}

bool IsComment(const std::string& trimmed) {
    return trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#';
}

// Splits "key = value"; nullopt for lines that hold no key.
std::optional<std::pair<std::string, std::string>> KeyValue(const std::string& line) {
    const std::string t = Trim(line);
    if (IsComment(t) || t[0] == '[') {
        return std::nullopt;
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string::npos) {
        return std::nullopt;
    }
    std::string value = Trim(t.substr(eq + 1));
    // Like the profile functions, one pair of enclosing quotes is dropped.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::make_pair(Trim(t.substr(0, eq)), value);
}

}  // namespace

IniFile::IniFile(const std::string& fileText) {
    // Editors on Windows start a UTF-8 file with a byte order mark; it is no
    // part of the first line's section name.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    byteOrderMark_ = fileText.starts_with(kByteOrderMark);
    const std::string text = byteOrderMark_ ? fileText.substr(kByteOrderMark.size()) : fileText;
    if (text.find("\r\n") == std::string::npos && text.find('\n') != std::string::npos) {
        newline_ = "\n";
    }
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines_.push_back(line);
    }
}

std::size_t IniFile::findSection(const std::string& section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (auto name = SectionName(lines_[i]); name && SameName(*name, section)) {
            return i;
        }
    }
    return std::string::npos;
}

std::size_t IniFile::sectionEnd(std::size_t sectionLine) const {
    std::size_t i = sectionLine + 1;
    while (i < lines_.size() && !SectionName(lines_[i])) {
        ++i;
    }
    return i;
}

std::optional<std::string> IniFile::get(const std::string& section, const std::string& key) const {
    const std::size_t s = findSection(section);
    if (s == std::string::npos) {
        return std::nullopt;
    }
    // The end is found once: a section of many lines must not cost their square.
    const std::size_t end = sectionEnd(s);
    for (std::size_t i = s + 1; i < end; ++i) {
        if (auto kv = KeyValue(lines_[i]); kv && SameName(kv->first, key)) {
            return kv->second;
        }
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> IniFile::entries(
    const std::string& section) const {
    std::vector<std::pair<std::string, std::string>> result;
    const std::size_t s = findSection(section);
    if (s != std::string::npos) {
        const std::size_t end = sectionEnd(s);
        for (std::size_t i = s + 1; i < end; ++i) {
            if (auto kv = KeyValue(lines_[i])) {
                result.push_back(*kv);
            }
        }
    }
    return result;
}

bool IniFile::set(const std::string& section, const std::string& key, const std::string& value) {
    if ((key + value).find_first_of("\r\n") != std::string::npos) {
        return false;
    }
    const std::string line = key + "=" + value;
    std::size_t s = findSection(section);
    if (s == std::string::npos) {
        lines_.push_back("[" + section + "]");
        lines_.push_back(line);
        return true;
    }
    const std::size_t end = sectionEnd(s);
    std::size_t lastContent = s;
    for (std::size_t i = s + 1; i < end; ++i) {
        if (auto kv = KeyValue(lines_[i]); kv && SameName(kv->first, key)) {
            lines_[i] = line;
            return true;
        }
        if (!Trim(lines_[i]).empty()) {
            lastContent = i;
        }
    }
    // A new key goes after the section's last line, before any blank lines.
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastContent + 1), line);
    return true;
}

std::string IniFile::text() const {
    std::string out = byteOrderMark_ ? "\xEF\xBB\xBF" : "";
    for (const std::string& line : lines_) {
        out += line;
        out += newline_;
    }
    return out;
}

std::optional<std::string> IniFile::ReadFile(const std::string& path, std::string* why) {
    std::string reason;
    auto text = [&]() -> std::optional<std::string> {
        // Opening a FIFO would wait for a writer, and a device such as
        // /dev/zero never ends: only a regular file is opened at all.
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        if (ec) {
            reason = ec.message();
            return std::nullopt;
        }
        if (!std::filesystem::is_regular_file(status)) {
            reason = "not a regular file";
            return std::nullopt;
        }
        errno = 0;
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            reason = errno != 0 ? std::strerror(errno) : "cannot be opened";
            return std::nullopt;
        }
        std::string read(kMaxFileBytes + 1, '\0');
        in.read(read.data(), static_cast<std::streamsize>(read.size()));
        if (in.bad()) {
            reason = "cannot be read";
            return std::nullopt;
        }
        read.resize(static_cast<std::size_t>(in.gcount()));
        if (read.size() > kMaxFileBytes) {
            reason = "larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB";
            return std::nullopt;
        }
        return read;
    }();
    if (!text && why != nullptr) {
        *why = reason;
    }
    return text;
}

bool IniFile::WriteFileAtomically(const std::string& path, const std::string& text) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // Through a symlink the file it names is written, and the link stays; a
    // link that leads nowhere is left alone.
    fs::path target = path;
    if (fs::is_symlink(fs::symlink_status(target, ec))) {
        target = fs::canonical(target, ec);
        if (ec) {
            return false;
        }
    }
    const fs::file_status existing = fs::status(target, ec);
    if (fs::exists(existing)) {
        // Something else in the file's place, or a file nobody may write (the
        // user made it read-only): not ours to replace.
        constexpr fs::perms kWritable =
            fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
        if (!fs::is_regular_file(existing) ||
            (existing.permissions() & kWritable) == fs::perms::none) {
            return false;
        }
    }
    // A name of its own: two programs saving at once, or a stale file left by
    // one that died, must not meet here.
    const std::string temporary = TemporaryName(target);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            // The folder takes no new file (read-only folder, file writable):
            // the file itself is all there is to write.
            return fs::is_regular_file(existing) && WriteInPlace(target, text);
        }
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            out.close();
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (fs::exists(existing)) {
        // The replacement keeps who may read and write it.
        fs::permissions(temporary, existing.permissions(), ec);
    }
    fs::rename(temporary, target, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

}  // namespace korvel
