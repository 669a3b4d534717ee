#include "serial/win32_serial_device.h"

#include <windows.h>

#include "serial/port_resolver.h"
#include "serial/serial_error.h"
#include "serial/win32_comm_state.h"

namespace korvel {

namespace {

[[noreturn]] void throwLastError(const std::string& operation) {
    const DWORD code = ::GetLastError();
    throw SerialError(operation, static_cast<int>(code), Win32ErrorText(code));
}

// Waits for an overlapped transfer that `started` began; returns the byte count.
DWORD Transfer(HANDLE handle, const char* operation, BOOL started, OVERLAPPED& overlapped) {
    // A transfer that ran into its time-out is not a failure: it moved what
    // it could (drivers report such a transfer as complete or as timed out).
    if (!started && ::GetLastError() != ERROR_IO_PENDING && ::GetLastError() != ERROR_TIMEOUT) {
        throwLastError(operation);
    }
    // The time-outs bound the wait: a read ends after about 1 ms, a write
    // after its total write time-out.
    DWORD done = 0;
    if (!::GetOverlappedResult(handle, &overlapped, &done, TRUE) &&
        ::GetLastError() != ERROR_TIMEOUT) {
        throwLastError(operation);
    }
    return done;
}

}  // namespace

std::string DefaultDevicePath(int portNumber) {
    return "\\\\.\\COM" + std::to_string(portNumber);
}

std::unique_ptr<SerialDevice> MakePlatformDevice(const std::string& path) {
    return std::make_unique<Win32SerialDevice>(path);
}

Win32SerialDevice::Win32SerialDevice(std::string path) : path_(std::move(path)) {}

Win32SerialDevice::~Win32SerialDevice() {
    close();
}

bool Win32SerialDevice::open(const LineSettings& settings) {
    openFailure_ = {};
    // No sharing: a second program (or a second Korvel) must not use the line.
    HANDLE handle = ::CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        const bool inUse = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
        openFailure_ = {static_cast<int>(code),
                        inUse ? "the port is in use by another program" : Win32ErrorText(code),
                        false};
        return false;
    }
    handle_ = handle;
    try {
        event_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (event_ == nullptr) {
            throwLastError("CreateEvent");
        }
        if (!::SetupComm(handle_, kDriverBufferBytes, kDriverBufferBytes)) {
            throwLastError("SetupComm");
        }
        applyLineSettings(settings);
        COMMTIMEOUTS timeouts = MakeCommTimeouts();
        if (!::SetCommTimeouts(handle_, &timeouts)) {
            throwLastError("SetCommTimeouts");
        }
    } catch (const SerialError& e) {
        openFailure_ = {e.code(), "cannot configure the port: " + e.systemText(), false};
        close();
        return false;
    }
    return true;
}

void Win32SerialDevice::close() {
    if (handle_ != nullptr) {
        ::CloseHandle(handle_);
        handle_ = nullptr;
    }
    if (event_ != nullptr) {
        ::CloseHandle(event_);
        event_ = nullptr;
    }
}

void Win32SerialDevice::applyLineSettings(const LineSettings& settings) {
    DCB current{};
    current.DCBlength = sizeof(DCB);
    if (!::GetCommState(handle_, &current)) {
        throwLastError("GetCommState");
    }
    DCB dcb = MakeCommState(current, settings);
    if (!::SetCommState(handle_, &dcb)) {
        throwLastError("SetCommState " + std::to_string(settings.baudRate));
    }
}

std::size_t Win32SerialDevice::read(std::uint8_t* buffer, std::size_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_;
    const DWORD wanted = static_cast<DWORD>(capacity);
    const BOOL started = ::ReadFile(handle_, buffer, wanted, nullptr, &overlapped);
    return Transfer(handle_, "ReadFile", started, overlapped);
}

void Win32SerialDevice::write(const std::uint8_t* data, std::size_t count) {
    if (count == 0) {
        return;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_;
    const DWORD wanted = static_cast<DWORD>(count);
    const BOOL started = ::WriteFile(handle_, data, wanted, nullptr, &overlapped);
    if (Transfer(handle_, "WriteFile", started, overlapped) < wanted) {
        // The write time-out ran out before the driver took every byte.
        throw SerialError("WriteFile", ERROR_TIMEOUT, Win32ErrorText(ERROR_TIMEOUT));
    }
}

void Win32SerialDevice::purge(bool input, bool output) {
    // Only the clear flags: a transfer in progress is never aborted.
    const DWORD flags = (input ? PURGE_RXCLEAR : 0) | (output ? PURGE_TXCLEAR : 0);
    if (flags != 0 && !::PurgeComm(handle_, flags)) {
        throwLastError("PurgeComm");
    }
}

void Win32SerialDevice::setBreak(bool on) {
    if (!::EscapeCommFunction(handle_, on ? SETBREAK : CLRBREAK)) {
        throwLastError(on ? "set break" : "clear break");
    }
}

std::uint32_t Win32SerialDevice::tickMs() {
    return ::GetTickCount();
}

void Win32SerialDevice::sleepMs(unsigned ms) {
    ::SleepEx(ms, TRUE);
}

}  // namespace korvel
