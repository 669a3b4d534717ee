#include "serial/posix_serial_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
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

// Linux numbers the port sides of its ptys with these majors (Unix98 slaves).
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kLastPtySlaveMajor = 143;

[[noreturn]] void throwErrno(const std::string& operation, int code) {
    throw SerialError(operation, code, std::strerror(code));
}

bool IsPtyPortSide(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    const unsigned major = ::major(st.st_rdev);
    return major >= kFirstPtySlaveMajor && major <= kLastPtySlaveMajor;
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
    pseudoTerminal_ = IsPtyPortSide(fd_);
    try {
        applyLineSettings(settings);
        // DTR and RTS stay inactive unless asked for: a board whose reset
        // hangs on one of them must not be held in reset by opening the port.
        setModemLines(false, false);
        askForLowLatency();
    } catch (const SerialError& e) {
        openFailure_ = {e.code(), "cannot configure the port: " + e.systemText(), false};
        close();
        return false;
    }
    return true;
}

void PosixSerialDevice::askForLowLatency() {
    // USB adapters hold received bytes for a while before passing them on;
    // a driver that knows low latency (ftdi_sio: a 1 ms timer) shortens
    // that. Drivers without the request, and ptys, refuse it: no matter.
    serial_struct serial{};
    if (::ioctl(fd_, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY) != 0) {
        return;
    }
    const int before = serial.flags;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd_, TIOCSSERIAL, &serial) == 0) {
        flagsBeforeLowLatency_ = before;
    }
}

void PosixSerialDevice::close() {
    if (fd_ >= 0) {
        // Leave the driver as other programs found it.
        if (flagsBeforeLowLatency_) {
            serial_struct serial{};
            if (::ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
                serial.flags = *flagsBeforeLowLatency_;
                ::ioctl(fd_, TIOCSSERIAL, &serial);
            }
            flagsBeforeLowLatency_.reset();
        }
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

bool PosixSerialDevice::waitForInput(unsigned timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd pfd{fd_, POLLIN, 0};
        const int ready =
            ::poll(&pfd, 1, static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, INT_MAX)));
        if (ready < 0 && errno == EINTR) {
            continue;  // a signal is no reason to end the wait early
        }
        if (ready < 0) {
            throwErrno("poll", errno);
        }
        if (ready == 0) {
            return false;
        }
        // The other end is gone (an unplugged adapter, a closed pty master)
        // once what it sent before has been read.
        int queued = 0;
        if ((pfd.revents & (POLLERR | POLLNVAL)) != 0 ||
            ((pfd.revents & POLLHUP) != 0 &&
             (::ioctl(fd_, FIONREAD, &queued) != 0 || queued == 0))) {
            throwErrno("read", EIO);
        }
        return true;
    }
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

void PosixSerialDevice::discardInput() {
    if (::tcflush(fd_, TCIFLUSH) != 0) {
        throwErrno("discard input", errno);
    }
}

void PosixSerialDevice::discardOutput() {
    if (::tcflush(fd_, TCOFLUSH) != 0) {
        throwErrno("discard output", errno);
    }
}

void PosixSerialDevice::setBreak(bool on) {
    // A pty has no line to hold in break; there is nothing to signal.
    if (::ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) != 0 && !pseudoTerminal_) {
        throwErrno(on ? "set break" : "clear break", errno);
    }
}

void PosixSerialDevice::setModemLines(bool dtr, bool rts) {
    int raise = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
    int lower = (TIOCM_DTR | TIOCM_RTS) & ~raise;
    const bool done = (raise == 0 || ::ioctl(fd_, TIOCMBIS, &raise) == 0) &&
                      (lower == 0 || ::ioctl(fd_, TIOCMBIC, &lower) == 0);
    // A pty has no modem lines; a real port that refuses them cannot reset the board.
    if (!done && !pseudoTerminal_) {
        throwErrno("set DTR and RTS", errno);
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
