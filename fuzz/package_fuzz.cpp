// The package reader on arbitrary bytes as a file: a load either fails and
// leaves an empty reader, or every entry it reports lies in the file as read.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "package/tfilepro.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The input as a file that the reader opens by name, without touching a disk.
class MemoryFile {
  public:
    MemoryFile(const std::uint8_t* data, std::size_t size) : fd_(::memfd_create("package", 0)) {
        Require(fd_ >= 0);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd_, data + done, size - done);
            Require(n > 0);
            done += static_cast<std::size_t>(n);
        }
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

  private:
    int fd_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const MemoryFile file(data, size);
    korvel::TFilePro package;
    if (!package.LoadFromFile(file.path())) {
        Require(package.entryCount() == 0 && package.kind() == 0 &&
                package.entryData(0) == nullptr && package.fileSize() == 0);
        return 0;
    }
    Require(package.entryCount() >= 1 && package.entryCount() <= korvel::TFilePro::kMaxEntries);
    Require(package.fileSize() == static_cast<std::int64_t>(size));
    for (int i = 0; i < korvel::TFilePro::kMaxEntries; ++i) {
        if (i >= package.entryCount()) {
            Require(package.entrySize(i) == 0 && package.entryData(i) == nullptr &&
                    package.entryKind(i) == 0 && package.entryName(i).empty());
            continue;
        }
        const auto offset = static_cast<std::size_t>(package.entryOffset(i));
        const auto held =
            static_cast<std::size_t>(package.entrySize(i)) + korvel::TFilePro::kTrailerSize;
        Require(package.entrySize(i) >= 0 && offset >= 32 && offset + held <= size);
        Require(data[offset - 32] == 'B' && data[offset - 31] == 'A');
        Require(package.entryKind(i) == static_cast<char>(data[offset - 32 + 28]));
        Require(package.entryName(i).size() <= 14 && package.entryVersion(i).size() <= 7);
        Require(std::memcmp(package.entryData(i), data + offset, held) == 0);
    }
    return 0;
}
