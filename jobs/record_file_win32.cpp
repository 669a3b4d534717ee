#include <windows.h>

#include "jobs/record_file.h"
#include "serial/win32_error_text.h"

namespace korvel {

namespace {

OVERLAPPED At(LONGLONG offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

class Win32RecordFile : public RecordFile {
  public:
    explicit Win32RecordFile(HANDLE file) : file_(file) {}
    ~Win32RecordFile() override { ::CloseHandle(file_); }

    bool Append(const std::string& line, std::string& error) override {
        std::string text = line + "\n";
        // Writers of the record take turns through a lock on a byte far
        // beyond any line: the look at the last byte, the write at the end
        // and a cut back belong together.
        OVERLAPPED turn{};
        turn.OffsetHigh = kTurnOffsetHigh;
        if (!::LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn)) {
            error = Win32ErrorText(::GetLastError());
            return false;
        }
        const bool appended = AppendInTurn(text, error);
        ::UnlockFileEx(file_, 0, 1, 0, &turn);
        return appended;
    }

  private:
    bool AppendInTurn(std::string& text, std::string& error) {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file_, &size)) {
            error = Win32ErrorText(::GetLastError());
            return false;
        }
        const LONGLONG before = size.QuadPart;
        char last = '\n';
        DWORD read = 0;
        OVERLAPPED lastByte = At(before - 1);
        if (before > 0 && ::ReadFile(file_, &last, 1, &read, &lastByte) && read == 1 &&
            last != '\n') {
            text.insert(text.begin(), '\n');
        }
        DWORD written = 0;
        OVERLAPPED end = At(before);
        const bool wrote =
            ::WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written, &end);
        if (!wrote) {
            error = Win32ErrorText(::GetLastError());
        } else if (written != text.size()) {
            error = ShortWriteText(written, text.size());
        } else if (!::FlushFileBuffers(file_)) {
            error = Win32ErrorText(::GetLastError());
        } else {
            return true;
        }
        LARGE_INTEGER cut{};
        cut.QuadPart = before;
        error += CutBackText(::SetFilePointerEx(file_, cut, nullptr, FILE_BEGIN) &&
                             ::SetEndOfFile(file_) && ::FlushFileBuffers(file_));
        return false;
    }

    static constexpr DWORD kTurnOffsetHigh = 0x7FFFFFFF;
    HANDLE file_;
};

}  // namespace

std::unique_ptr<RecordFile> RecordFile::Open(const std::string& path, std::string& error) {
    // Write access, not only append: a failed line is cut back.
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = Win32ErrorText(::GetLastError());
        return nullptr;
    }
    // Only a file on a disk: a pipe or a device could hold a write until
    // someone reads it.
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        error = "not a file on a disk";
        return nullptr;
    }
    return std::make_unique<Win32RecordFile>(file);
}

}  // namespace korvel
