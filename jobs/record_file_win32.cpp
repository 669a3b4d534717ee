#include <windows.h>

#include "jobs/record_file.h"
#include "serial/win32_error_text.h"

namespace korvel {

namespace {

class Win32RecordFile : public RecordFile {
  public:
    explicit Win32RecordFile(HANDLE file) : file_(file) {}
    ~Win32RecordFile() override { ::CloseHandle(file_); }

    bool Append(const std::string& line, std::string& error) override {
        const std::string text = line + "\n";
        // Append access puts each write at the end, but not every file system
        // makes finding the end and writing one step: writers of the record
        // take turns through a lock on a byte far beyond any line.
        OVERLAPPED turn{};
        turn.OffsetHigh = kTurnOffsetHigh;
        if (!::LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn)) {
            error = Win32ErrorText(::GetLastError());
            return false;
        }
        DWORD written = 0;
        const bool wrote =
            ::WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        const DWORD writeError = ::GetLastError();
        ::UnlockFileEx(file_, 0, 1, 0, &turn);
        if (!wrote) {
            error = Win32ErrorText(writeError);
            return false;
        }
        if (written != text.size()) {
            error = ShortWriteText(written, text.size());
            return false;
        }
        if (!::FlushFileBuffers(file_)) {
            error = Win32ErrorText(::GetLastError());
            return false;
        }
        return true;
    }

  private:
    static constexpr DWORD kTurnOffsetHigh = 0x7FFFFFFF;
    HANDLE file_;
};

}  // namespace

std::unique_ptr<RecordFile> RecordFile::Open(const std::string& path, std::string& error) {
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = Win32ErrorText(::GetLastError());
        return nullptr;
    }
    return std::make_unique<Win32RecordFile>(file);
}

}  // namespace korvel
