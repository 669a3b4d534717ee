#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "serial/posix_baud_rate.h"
#include "sim/pty_server.h"

namespace korvel::sim {

namespace {
constexpr int kPollMs = 1;
}

namespace {
std::optional<UsbAdapterModel> MakeAdapter(BoardModel& model, std::optional<VirtualNs> latency) {
    if (!latency) {
        return std::nullopt;
    }
    return std::optional<UsbAdapterModel>(std::in_place, model, *latency);
}
}  // namespace

PtyServer::PtyServer(BoardModel& model, std::string linkPath, bool paced,
                     std::optional<VirtualNs> adapterLatency)
    : model_(model),
      adapter_(MakeAdapter(model, adapterLatency)),
      lineEnd_(adapter_ ? static_cast<VirtualLineEnd&>(*adapter_) : model),
      linkPath_(std::move(linkPath)),
      paced_(paced) {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    }
    slavePath_ = name;
    // The server keeps its own handle on the board's end open so that the
    // pty survives a host closing and reopening the port.
    termios tio{};
    ::tcgetattr(slave_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave_, TCSANOW, &tio);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    model_.setPaced(paced_);
    if (!linkPath_.empty()) {
        std::error_code ec;
        std::filesystem::remove(linkPath_, ec);
        std::filesystem::create_symlink(slavePath_, linkPath_);
    }
    startNs_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
                   .count();
    pollLineSettings(0);
}

PtyServer::~PtyServer() {
    if (!linkPath_.empty()) {
        std::error_code ec;
        std::filesystem::remove(linkPath_, ec);
    }
    ::close(slave_);
    ::close(master_);
}

VirtualNs PtyServer::now() const {
    const std::int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count();
    return static_cast<VirtualNs>(ns - startNs_);
}

void PtyServer::pollLineSettings(VirtualNs at) {
    termios tio{};
    if (::tcgetattr(slave_, &tio) != 0) {
        return;
    }
    LineSettings s;
    s.baudRate = GetPosixBaudRate(slave_);
    if (s.baudRate <= 0) {
        return;
    }
    s.parity = (tio.c_cflag & PARENB) == 0   ? Parity::None
               : (tio.c_cflag & PARODD) != 0 ? Parity::Odd
                                             : Parity::Even;
    s.stopBits = (tio.c_cflag & CSTOPB) != 0 ? StopBits::Two : StopBits::One;
    if (!(s == line_)) {
        line_ = s;
        lineEnd_.hostLineSettings(at, s);
    }
}

void PtyServer::run(const std::atomic<bool>& stop) {
    std::vector<std::uint8_t> out;
    std::uint8_t buffer[4096];
    while (!stop) {
        pollfd pfd{master_, POLLIN, 0};
        ::poll(&pfd, 1, kPollMs);
        pollLineSettings(now());
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            const VirtualNs charNs = paced_ ? CharacterTimeNs(line_) : 0;
            for (ssize_t i = 0; i < n; ++i) {
                // A pty moves bytes at once; a paced line spaces them out.
                lastHostByte_ = std::max(now(), lastHostByte_ + charNs);
                lineEnd_.hostByte(lastHostByte_, buffer[i]);
            }
        }
        out.clear();
        lineEnd_.takeBoardBytes(now(), out);
        std::size_t done = 0;
        while (done < out.size() && !stop) {
            const ssize_t w = ::write(master_, out.data() + done, out.size() - done);
            if (w > 0) {
                done += static_cast<std::size_t>(w);
            } else {
                pollfd wfd{master_, POLLOUT, 0};
                ::poll(&wfd, 1, kPollMs);
            }
        }
    }
}

}  // namespace korvel::sim
