#include "serial/win32_serial_device.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <mmsystem.h>

#include "serial/port_resolver.h"
#include "serial/serial_error.h"
#include "serial/win32_comm_state.h"
#include "serial/win32_error_text.h"

namespace korvel {

namespace {

// The system timer period asked for while a port is open.
constexpr UINT kTimerPeriodMs = 1;

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
        // waitForInput waits for this event.
        if (!::SetCommMask(handle_, EV_RXCHAR)) {
            throwLastError("SetCommMask");
        }
    } catch (const SerialError& e) {
        openFailure_ = {e.code(), "cannot configure the port: " + e.systemText(), false};
        close();
        return false;
    }
    fineTimer_ = ::timeBeginPeriod(kTimerPeriodMs) == TIMERR_NOERROR;
    return true;
}

void Win32SerialDevice::close() {
    if (fineTimer_) {
        ::timeEndPeriod(kTimerPeriodMs);
        fineTimer_ = false;
    }
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

DWORD Win32SerialDevice::queuedInput() {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(handle_, &errors, &status)) {
        throwLastError("ClearCommError");
    }
    return status.cbInQue;
}

bool Win32SerialDevice::waitForInput(unsigned timeoutMs) {
    const DWORD start = ::GetTickCount();
    // An event can end a wait with nothing to read (the bytes it announced
    // were taken already): wait again for what is left of the time.
    for (;;) {
        if (queuedInput() > 0) {
            return true;
        }
        const DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= timeoutMs) {
            return false;
        }
        // The event is shared with reads and writes, which leave it set.
        ::ResetEvent(event_);
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_;
        DWORD events = 0;
        if (::WaitCommEvent(handle_, &events, &overlapped)) {
            continue;
        }
        if (::GetLastError() != ERROR_IO_PENDING) {
            throwLastError("WaitCommEvent");
        }
        // A byte that came after the first look but before the wait began
        // raises no event: look again before sleeping.
        if (queuedInput() == 0 &&
            ::WaitForSingleObject(event_, timeoutMs - elapsed) == WAIT_FAILED) {
            throwLastError("WaitForSingleObject");
        }
        // Setting the mask again completes a wait still pending, so that it
        // is over before the OVERLAPPED goes out of scope.
        if (!::SetCommMask(handle_, EV_RXCHAR)) {
            throwLastError("SetCommMask");
        }
        DWORD ignored = 0;
        ::GetOverlappedResult(handle_, &overlapped, &ignored, TRUE);
    }
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

// Only the clear flags: a transfer in progress is never aborted.
void Win32SerialDevice::discardInput() {
    if (!::PurgeComm(handle_, PURGE_RXCLEAR)) {
        throwLastError("PurgeComm");
    }
}

void Win32SerialDevice::discardOutput() {
    if (!::PurgeComm(handle_, PURGE_TXCLEAR)) {
        throwLastError("PurgeComm");
    }
}

void Win32SerialDevice::setBreak(bool on) {
    if (!::EscapeCommFunction(handle_, on ? SETBREAK : CLRBREAK)) {
        throwLastError(on ? "set break" : "clear break");
    }
}

void Win32SerialDevice::setModemLines(bool dtr, bool rts) {
    if (!::EscapeCommFunction(handle_, dtr ? SETDTR : CLRDTR)) {
        throwLastError("set DTR");
    }
    if (!::EscapeCommFunction(handle_, rts ? SETRTS : CLRRTS)) {
        throwLastError("set RTS");
    }
}

std::uint32_t Win32SerialDevice::tickMs() {
    return ::GetTickCount();
}

void Win32SerialDevice::sleepMs(unsigned ms) {
    ::SleepEx(ms, TRUE);
}

}  // namespace korvel
