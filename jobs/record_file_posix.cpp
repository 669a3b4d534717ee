#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "jobs/record_file.h"

namespace korvel {

namespace {

class PosixRecordFile : public RecordFile {
  public:
    explicit PosixRecordFile(int fd) : fd_(fd) {}
    ~PosixRecordFile() override { ::close(fd_); }

    bool Append(const std::string& line, std::string& error) override {
        const std::string text = line + "\n";
        // O_APPEND puts each write whole at the end, also against writers in
        // other processes; a split write could interleave, so it is one.
        ssize_t written = -1;
        do {
            written = ::write(fd_, text.data(), text.size());
        } while (written < 0 && errno == EINTR);
        if (written < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (static_cast<std::size_t>(written) != text.size()) {
            error = ShortWriteText(static_cast<std::size_t>(written), text.size());
            return false;
        }
        if (::fsync(fd_) != 0) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }

  private:
    int fd_;
};

}  // namespace

std::unique_ptr<RecordFile> RecordFile::Open(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<PosixRecordFile>(fd);
}

}  // namespace korvel
