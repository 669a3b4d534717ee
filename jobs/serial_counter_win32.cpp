#include <windows.h>

#include "jobs/serial_counter.h"
#include "package/printable_text.h"
#include "serial/win32_error_text.h"

namespace korvel {

using namespace serial_counter;

namespace {

std::string SystemText(const std::string& what) {
    return what + ": " + Win32ErrorText(::GetLastError());
}

class Handle {
  public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (ok()) {
            ::CloseHandle(handle_);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE handle_;
};

}  // namespace

std::optional<std::uint64_t> TakeSerialNumbers(const std::string& path, std::uint64_t count,
                                               std::uint64_t max, std::string& error) {
    const std::string shown = PrintableText(path);
    const Handle lock(::CreateFileA((path + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!lock.ok()) {
        error = SystemText("cannot open the serial counter's lock file " + shown + ".lock");
        return std::nullopt;
    }
    const bool turn = AwaitTurn(path, error, [&] {
        OVERLAPPED byte{};
        return ::LockFileEx(lock.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                            0, &byte) != 0;
    });
    if (!turn) {
        return std::nullopt;
    }
    // Closing the lock file's handle ends the turn.

    std::string text;
    {
        const Handle in(::CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!in.ok()) {
            const DWORD code = ::GetLastError();
            if (code == ERROR_FILE_NOT_FOUND) {
                error = MissingText(path);
            } else {
                ::SetLastError(code);
                error = SystemText("cannot read the serial counter " + shown);
            }
            return std::nullopt;
        }
        // A counter is one number; anything longer is not one.
        char buffer[64];
        DWORD read = 0;
        if (!::ReadFile(in.get(), buffer, sizeof buffer, &read, nullptr)) {
            error = SystemText("cannot read the serial counter " + shown);
            return std::nullopt;
        }
        text.assign(buffer, read);
    }
    const auto first = FirstNumber(path, text, count, max, error);
    if (!first) {
        return std::nullopt;
    }

    // The new number goes to a file of its own first: a crash leaves either
    // the old counter or the new one, never a half-written one.
    const std::string temporary = path + ".new";
    const std::string next = CounterText(*first + count);
    {
        const Handle out(::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!out.ok() ||
            !::WriteFile(out.get(), next.data(), static_cast<DWORD>(next.size()), &written,
                         nullptr) ||
            written != next.size() || !::FlushFileBuffers(out.get())) {
            error = SystemText("cannot write the serial counter " + shown);
            ::DeleteFileA(temporary.c_str());
            return std::nullopt;
        }
    }
    if (!::MoveFileExA(temporary.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = SystemText("cannot replace the serial counter " + shown);
        ::DeleteFileA(temporary.c_str());
        return std::nullopt;
    }
    return first;
}

}  // namespace korvel
