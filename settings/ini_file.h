#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvel {

// An INI text edited the way the Windows private-profile functions do it:
// section and key names match without regard to case, a value is the text
// after "=" without surrounding blanks, and setting a key rewrites only that
// line, keeping every other line, key, section and comment as it was.
class IniFile {
  public:
    IniFile() = default;
    explicit IniFile(const std::string& text);

    std::optional<std::string> get(const std::string& section, const std::string& key) const;
    // False, and nothing changed, for a key or value holding a line end: written
    // raw it would end the line and could plant keys or sections of its own.
    bool set(const std::string& section, const std::string& key, const std::string& value);
    // Every key = value of a section, in file order.
    std::vector<std::pair<std::string, std::string>> entries(const std::string& section) const;

    std::string text() const;

    // Larger than any settings file a person keeps: what is beyond it is not read.
    static constexpr std::size_t kMaxFileBytes = 1 << 20;

    // Whole-file helpers. Only a regular file of at most kMaxFileBytes is
    // read: anything else (missing, unreadable, a FIFO, a device, a link to
    // one) reads as nullopt, with the reason in `why` when given. Write
    // goes through a temporary file of a name of its own and an atomic rename,
    // so a failure never leaves a truncated file behind; only where the folder
    // takes no new file but the file itself is writable is it written in place.
    // Returns false on failure.
    static std::optional<std::string> ReadFile(const std::string& path, std::string* why = nullptr);
    static bool WriteFileAtomically(const std::string& path, const std::string& text);

  private:
    // Index of the line "[section]", or npos.
    std::size_t findSection(const std::string& section) const;
    // One past the last line that belongs to the section starting at index.
    std::size_t sectionEnd(std::size_t sectionLine) const;

    std::vector<std::string> lines_;
    std::string newline_ = "\r\n";
    // A UTF-8 byte order mark the text started with, kept for text().
    bool byteOrderMark_ = false;
};

}  // namespace korvel
