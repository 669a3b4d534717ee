#include "serial/posix_serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "serial/port_resolver.h"
#include "serial/posix_baud_rate.h"
#include "serial/serial_error.h"

namespace korvel {

namespace {

// A read polls this long for the first byte; the procedures' receive loops
// rely on getting control back about every millisecond.
constexpr int kReadPollMs = 1;
// Write time-out: 100 ms per byte plus 1000 ms, as the line is slow at worst.
constexpr int kWriteMsPerByte = 100;
constexpr int kWriteConstantMs = 1000;

[[noreturn]] void throwErrno(const std::string& operation, int code) {
    throw SerialError(operation, code, std::strerror(code));
}

}  // namespace

std::string DefaultDevicePath(int portNumber) {
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

std::unique_ptr<SerialDevice> MakePlatformDevice(const std::string& path) {
    return std::make_unique<PosixSerialDevice>(path);
}

PosixSerialDevice::PosixSerialDevice(std::string path) : path_(std::move(path)) {}

PosixSerialDevice::~PosixSerialDevice() {
    close();
}

bool PosixSerialDevice::open(const LineSettings& settings) {
    openFailure_ = {};
    int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        openFailure_ = {code, std::strerror(code), code == EACCES || code == EPERM};
        return false;
    }
    // Exclusive access: a second program (or a second Korvel) must not share
    // the line. flock covers cooperating programs, TIOCEXCL refuses further
    // opens of the tty by anyone but root.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(fd);
        openFailure_ = {
            code,
            code == EWOULDBLOCK ? "the port is in use by another program" : std::strerror(code),
            false};
        return false;
    }
    ::ioctl(fd, TIOCEXCL);
    fd_ = fd;
    try {
        applyLineSettings(settings);
        // Hold DTR and RTS inactive; devices without modem lines (ptys) refuse this.
        int lines = TIOCM_DTR | TIOCM_RTS;
        ::ioctl(fd_, TIOCMBIC, &lines);
    } catch (const SerialError& e) {
        openFailure_ = {e.code(), "cannot configure the port: " + e.systemText(), false};
        close();
        return false;
    }
    return true;
}

void PosixSerialDevice::close() {
    if (fd_ >= 0) {
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
    }
}

void PosixSerialDevice::applyLineSettings(const LineSettings& settings) {
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) {
        throwErrno("tcgetattr", errno);
    }
    // A raw channel: no echo, no line editing, no translation of any byte.
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNBRK | BRKINT);
    if (settings.parity != Parity::None) {
        tio.c_cflag |= PARENB;
        if (settings.parity == Parity::Odd) {
            tio.c_cflag |= PARODD;
        }
    }
    if (settings.stopBits == StopBits::Two) {
        tio.c_cflag |= CSTOPB;
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
        throwErrno("tcsetattr", errno);
    }
    if (const int code = SetPosixBaudRate(fd_, settings.baudRate); code != 0) {
        throwErrno("set baud rate " + std::to_string(settings.baudRate), code);
    }
}

std::size_t PosixSerialDevice::read(std::uint8_t* buffer, std::size_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    pollfd pfd{fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, kReadPollMs);
    if (ready < 0) {
        if (errno == EINTR) {
            return 0;
        }
        throwErrno("poll", errno);
    }
    if (ready == 0) {
        return 0;
    }
    if ((pfd.revents & (POLLERR | POLLNVAL)) != 0) {
        throwErrno("read", EIO);
    }
    const ssize_t n = ::read(fd_, buffer, capacity);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            return 0;
        }
        throwErrno("read", errno);
    }
    if (n == 0 && (pfd.revents & POLLHUP) != 0) {
        // The other end is gone (an unplugged adapter, a closed pty master).
        throwErrno("read", EIO);
    }
    return static_cast<std::size_t>(n);
}

std::size_t PosixSerialDevice::readAvailable(std::uint8_t* buffer, std::size_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    // The descriptor is non-blocking and VMIN and VTIME are 0: this never waits.
    const ssize_t n = ::read(fd_, buffer, capacity);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            return 0;
        }
        throwErrno("read", errno);
    }
    return static_cast<std::size_t>(n);
}

void PosixSerialDevice::write(const std::uint8_t* data, std::size_t count) {
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(kWriteConstantMs + kWriteMsPerByte * static_cast<int>(count));
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, data + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throwErrno("write", errno);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            throwErrno("write", ETIMEDOUT);
        }
        pollfd pfd{fd_, POLLOUT, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            throwErrno("poll", errno);
        }
    }
}

void PosixSerialDevice::purge(bool input, bool output) {
    const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : output ? TCOFLUSH : -1;
    if (which >= 0 && ::tcflush(fd_, which) != 0) {
        throwErrno("tcflush", errno);
    }
}

void PosixSerialDevice::setBreak(bool on) {
    if (::ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) != 0) {
        const int code = errno;
        // A pty has no line to hold in break; there is nothing to signal.
        if (code == ENOTTY || code == EINVAL || code == EOPNOTSUPP) {
            return;
        }
        throwErrno(on ? "set break" : "clear break", code);
    }
}

std::uint32_t PosixSerialDevice::tickMs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void PosixSerialDevice::startPause() {
    stepEnd_ = std::chrono::steady_clock::now();
}

void PosixSerialDevice::sleepMs(unsigned ms) {
    // A sleep wakes a little late, and the steps of a pause would carry that
    // over one into the next (6 steps of 2 ms came to 12.5 ms): each step ends
    // where the one before was due to end, plus its own length. One that
    // woke past the next step's end sleeps a whole step from now.
    const auto now = std::chrono::steady_clock::now();
    const auto step = std::chrono::milliseconds(ms);
    stepEnd_ = stepEnd_ + step > now ? stepEnd_ + step : now + step;
    std::this_thread::sleep_until(stepEnd_);
}

}  // namespace korvel
