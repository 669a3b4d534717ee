#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "package/package_file.h"

namespace korvel {

namespace {

FileStamp StampFrom(const struct stat& st) {
    return {static_cast<std::int64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

class PosixPackageFile : public PackageFile {
  public:
    explicit PosixPackageFile(int fd) : fd_(fd) {}
    ~PosixPackageFile() override { ::close(fd_); }

    FileStamp stamp() const override {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? StampFrom(st) : FileStamp{-1, -1};
    }

    std::size_t readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t count) override {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n =
                ::pread(fd_, buffer + done, count - done, static_cast<off_t>(offset) + done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        return done;
    }

  private:
    int fd_;
};

}  // namespace

std::unique_ptr<PackageFile> PackageFile::Open(const std::string& path) {
    // A FIFO would block the open until a writer comes, a device might
    // answer to being opened: only a regular file is opened, and without
    // waiting in case another thing took its place after the check.
    struct stat named {};
    if (::stat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) {
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    // Keep other writers out while the package is loaded. POSIX has no
    // mandatory share modes: an open-file-description read lock is the
    // strongest offer, and it binds only programs that take locks themselves
    // (a plain write by another program still goes through). Readers share it.
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0 && (errno == EAGAIN || errno == EACCES)) {
        // Someone holds a write lock: the file is being written right now.
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixPackageFile>(fd);
}

std::optional<FileStamp> PackageFile::StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return StampFrom(st);
}

}  // namespace korvel
