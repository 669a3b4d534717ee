#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "jobs/serial_counter.h"
#include "package/printable_text.h"

namespace korvel {

using namespace serial_counter;

namespace {

std::string SystemText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, std::string& text) {
    char buffer[256];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        // A counter is one number; anything this long is not one.
        if (text.size() > 64) {
            return true;
        }
    }
}

std::string Folder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::optional<std::uint64_t> TakeSerialNumbers(const std::string& path, std::uint64_t count,
                                               std::uint64_t max, std::string& error) {
    const std::string shown = PrintableText(path);
    const Fd lock(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (lock.get() < 0) {
        error = SystemText("cannot open the serial counter's lock file " + shown + ".lock");
        return std::nullopt;
    }
    const bool turn = AwaitTurn(path, error, [&] {
        // A file system without locks: one station per counter there.
        return ::flock(lock.get(), LOCK_EX | LOCK_NB) == 0 ||
               (errno != EWOULDBLOCK && errno != EINTR);
    });
    if (!turn) {
        return std::nullopt;
    }

    std::string text;
    {
        const Fd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (in.get() < 0) {
            error = errno == ENOENT ? MissingText(path)
                                    : SystemText("cannot read the serial counter " + shown);
            return std::nullopt;
        }
        if (!ReadAll(in.get(), text)) {
            error = SystemText("cannot read the serial counter " + shown);
            return std::nullopt;
        }
    }
    const auto first = FirstNumber(path, text, count, max, error);
    if (!first) {
        return std::nullopt;
    }

    // The new number goes to a file of its own first: a crash leaves either
    // the old counter or the new one, never a half-written one.
    const std::string temporary = path + ".new";
    {
        const Fd out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (out.get() < 0 || !WriteAll(out.get(), CounterText(*first + count)) ||
            ::fsync(out.get()) != 0) {
            error = SystemText("cannot write the serial counter " + shown);
            ::unlink(temporary.c_str());
            return std::nullopt;
        }
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        error = SystemText("cannot replace the serial counter " + shown);
        ::unlink(temporary.c_str());
        return std::nullopt;
    }
    // The rename is on the disk only when the folder is.
    const Fd folder(::open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0 || ::fsync(folder.get()) != 0) {
        error = SystemText("the serial counter " + shown + " may not be on the disk");
        return std::nullopt;
    }
    return first;
}

}  // namespace korvel
