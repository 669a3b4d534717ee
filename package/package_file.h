#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace korvel {

// What tells one version of a file from the next without reading it.
struct FileStamp {
    std::int64_t size = 0;
    std::int64_t modified = 0;  // modification time in the system's own units
    bool operator==(const FileStamp&) const = default;
};

// A package file opened for reading while other writers are kept out, for as
// long as the object lives (TFilePro holds it while it reads the package).
// One backend per system, chosen by the build.
class PackageFile {
  public:
    virtual ~PackageFile() = default;
    // The stamp of the file as opened; a size of -1 when it cannot be read.
    virtual FileStamp stamp() const = 0;
    // Reads up to count bytes at offset; returns how many were read.
    virtual std::size_t readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t count) = 0;

    // Null when the file does not exist or cannot be opened, and for anything
    // but a regular file (a FIFO or a device), which is never opened at all:
    // opening one can block or wake a device.
    static std::unique_ptr<PackageFile> Open(const std::string& path);
    // The stamp of the file now at path, without opening it; nullopt when
    // there is none.
    static std::optional<FileStamp> StampOf(const std::string& path);
};

}  // namespace korvel
