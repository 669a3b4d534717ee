#include <windows.h>

#include "cli/record_file.h"

namespace korvel::cli {

namespace {

std::string SystemText(DWORD code) {
    char text[256] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, text, sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) {
        s.pop_back();
    }
    return s.empty() ? "system error " + std::to_string(code) : s;
}

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
            error = SystemText(::GetLastError());
            return false;
        }
        DWORD written = 0;
        const bool wrote =
            ::WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        const DWORD writeError = ::GetLastError();
        ::UnlockFileEx(file_, 0, 1, 0, &turn);
        if (!wrote) {
            error = SystemText(writeError);
            return false;
        }
        if (written != text.size()) {
            error = "only " + std::to_string(written) + " of " + std::to_string(text.size()) +
                    " bytes were written (is the disk full?)";
            return false;
        }
        if (!::FlushFileBuffers(file_)) {
            error = SystemText(::GetLastError());
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
        error = SystemText(::GetLastError());
        return nullptr;
    }
    return std::make_unique<Win32RecordFile>(file);
}

}  // namespace korvel::cli
