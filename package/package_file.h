#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace korvel {

// A package file opened for reading while other writers are kept out, for as
// long as the object lives. One backend per system, chosen by the build.
class PackageFile {
  public:
    virtual ~PackageFile() = default;
    virtual std::int64_t size() const = 0;
    // Reads up to count bytes at offset; returns how many were read.
    virtual std::size_t readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t count) = 0;

    // Null when the file does not exist or cannot be opened.
    static std::unique_ptr<PackageFile> Open(const std::string& path);
};

}  // namespace korvel
