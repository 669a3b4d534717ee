#include "serial/serial_port.h"

#include "serial/port_resolver.h"

namespace korvel {

namespace {
constexpr unsigned kBreakMs = 200;
constexpr unsigned kSleepStepMs = 2;
}  // namespace

SerialPort::SerialPort(int portNumber, int baudRate, std::uint8_t lineFlags)
    : portNumber_(portNumber), settings_(DecodeLineFlags(baudRate, lineFlags)) {}

SerialPort::SerialPort(std::unique_ptr<SerialDevice> device, int baudRate, std::uint8_t lineFlags)
    : portNumber_(0), settings_(DecodeLineFlags(baudRate, lineFlags)), device_(std::move(device)) {}

SerialPort::~SerialPort() {
    try {
        close();
    } catch (...) {
        // Nothing useful can be done about a failing close while unwinding.
    }
}

SerialDevice& SerialPort::device() {
    if (!device_) {
        device_ = PortResolver::instance().makeDevice(portNumber_);
    }
    return *device_;
}

bool SerialPort::open() {
    openFailure_ = {};
    SerialDevice& dev = device();
    if (!dev.isOpen() && !dev.open(settings_)) {
        openFailure_ = dev.lastOpenFailure();
        return false;
    }
    dev.discardInput();
    dev.discardOutput();
    return true;
}

void SerialPort::close() {
    if (device_ && device_->isOpen()) {
        device_->close();
    }
}

bool SerialPort::isOpen() const {
    return device_ && device_->isOpen();
}

void SerialPort::setBaudRate(int baudRate) {
    settings_.baudRate = baudRate;
    if (isOpen()) {
        device_->applyLineSettings(settings_);
        device_->discardInput();
        device_->discardOutput();
    }
}

void SerialPort::write(const std::uint8_t* data, std::uint16_t count) {
    device().write(data, count);
}

std::uint16_t SerialPort::read(std::uint8_t* buffer, std::uint16_t capacity) {
    return static_cast<std::uint16_t>(device().read(buffer, capacity));
}

std::uint16_t SerialPort::readAvailable(std::uint8_t* buffer, std::uint16_t capacity) {
    return static_cast<std::uint16_t>(device().readAvailable(buffer, capacity));
}

std::uint16_t SerialPort::readWithin(std::uint8_t* buffer, std::uint16_t capacity,
                                     unsigned timeoutMs) {
    if (capacity == 0 || !device().waitForInput(timeoutMs)) {
        return 0;
    }
    return readAvailable(buffer, capacity);
}

void SerialPort::discardInput() {
    device().discardInput();
}

void SerialPort::discardOutput() {
    device().discardOutput();
}

void SerialPort::sendBreak() {
    device().setBreak(true);
    waitMs(kBreakMs);
    device().setBreak(false);
}

void SerialPort::setModemLines(bool dtr, bool rts) {
    device().setModemLines(dtr, rts);
}

void SerialPort::waitMs(unsigned ms) {
    SerialDevice& dev = device();
    const std::uint32_t start = dev.tickMs();
    dev.startPause();
    do {
        dev.sleepMs(kSleepStepMs);
    } while (static_cast<std::uint32_t>(dev.tickMs() - start) <= ms);
}

void SerialPort::sleepMs(unsigned ms) {
    SerialDevice& dev = device();
    dev.startPause();
    dev.sleepMs(ms);
}

std::uint32_t SerialPort::tickMs() {
    return device().tickMs();
}

std::string SerialPort::name() const {
    return "COM" + std::to_string(portNumber_);
}

std::string SerialPort::devicePath() const {
    return device_ ? device_->path() : PortResolver::instance().describe(portNumber_);
}

}  // namespace korvel
