#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "jobs/record_file.h"

namespace korvel {

namespace {

// The record's writers in every process take turns for the whole of an
// Append: the look at the file's last byte, the write and a cut back belong
// together. Where the file system has no locks the turn is not taken and
// O_APPEND alone keeps each line whole.
class Turn {
  public:
    explicit Turn(int fd) : fd_(fd) {
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~Turn() { ::flock(fd_, LOCK_UN); }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

  private:
    int fd_;
};

class PosixRecordFile : public RecordFile {
  public:
    PosixRecordFile(int fd, bool regular) : fd_(fd), regular_(regular) {}
    ~PosixRecordFile() override { ::close(fd_); }

    bool Append(const std::string& line, std::string& error) override {
        std::string text = line + "\n";
        if (!regular_) {
            // A pipe or a device: nothing to look back at or cut.
            return WriteOnce(fd_, text, error);
        }
        const Turn turn(fd_);
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            error = std::strerror(errno);
            return false;
        }
        const off_t before = st.st_size;
        char last = '\n';
        if (before > 0 && ::pread(fd_, &last, 1, before - 1) == 1 && last != '\n') {
            text.insert(text.begin(), '\n');
        }
        if (!WriteOnce(fd_, text, error) || !Synced(error)) {
            error += CutBackText(::ftruncate(fd_, before) == 0 && ::fsync(fd_) == 0);
            return false;
        }
        return true;
    }

  private:
    // Writes text in one write; false with the reason in `error`.
    static bool WriteOnce(int fd, const std::string& text, std::string& error) {
        // O_APPEND puts each write whole at the end, also against writers in
        // other processes; a split write could interleave, so it is one.
        ssize_t written = -1;
        do {
            written = ::write(fd, text.data(), text.size());
        } while (written < 0 && errno == EINTR);
        if (written < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (static_cast<std::size_t>(written) != text.size()) {
            error = ShortWriteText(static_cast<std::size_t>(written), text.size());
            return false;
        }
        return true;
    }

    bool Synced(std::string& error) const {
        if (::fsync(fd_) != 0) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }

    int fd_;
    bool regular_;
};

}  // namespace

std::unique_ptr<RecordFile> RecordFile::Open(const std::string& path, std::string& error) {
    // Without O_NONBLOCK a FIFO that nothing reads would hold the open until
    // a reader came, before any board is touched and deaf to a stop.
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = errno == ENXIO ? "nothing reads it (a FIFO or socket without a reader)"
                               : std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        return std::make_unique<PosixRecordFile>(fd, false);
    }
    // The last byte is read before each line: the same file again, for
    // reading too. A file that may only be written goes without that look.
    const int readable = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY);
    struct stat again {};
    if (readable >= 0 && ::fstat(readable, &again) == 0 && again.st_dev == st.st_dev &&
        again.st_ino == st.st_ino) {
        ::close(fd);
        return std::make_unique<PosixRecordFile>(readable, true);
    }
    if (readable >= 0) {
        ::close(readable);
    }
    return std::make_unique<PosixRecordFile>(fd, true);
}

}  // namespace korvel
