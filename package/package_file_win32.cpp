#include <windows.h>

#include <limits>

#include "package/package_file.h"

namespace korvel {

namespace {

FileStamp StampFrom(DWORD sizeHigh, DWORD sizeLow, FILETIME written) {
    return {static_cast<std::int64_t>((std::uint64_t{sizeHigh} << 32) | sizeLow),
            static_cast<std::int64_t>((std::uint64_t{written.dwHighDateTime} << 32) |
                                      written.dwLowDateTime)};
}

class Win32PackageFile : public PackageFile {
  public:
    explicit Win32PackageFile(HANDLE handle) : handle_(handle) {}
    ~Win32PackageFile() override { ::CloseHandle(handle_); }

    Win32PackageFile(const Win32PackageFile&) = delete;
    Win32PackageFile& operator=(const Win32PackageFile&) = delete;

    FileStamp stamp() const override {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(handle_, &info)) {
            return {-1, -1};
        }
        return StampFrom(info.nFileSizeHigh, info.nFileSizeLow, info.ftLastWriteTime);
    }

    std::size_t readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t count) override {
        std::size_t done = 0;
        while (done < count) {
            // The offset travels with each read; no shared file position.
            const std::uint64_t at = static_cast<std::uint64_t>(offset) + done;
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
            where.OffsetHigh = static_cast<DWORD>(at >> 32);
            const std::size_t left = count - done;
            const DWORD chunk = left > std::numeric_limits<DWORD>::max()
                                    ? std::numeric_limits<DWORD>::max()
                                    : static_cast<DWORD>(left);
            DWORD got = 0;
            if (!::ReadFile(handle_, buffer + done, chunk, &got, &where) || got == 0) {
                break;
            }
            done += got;
        }
        return done;
    }

  private:
    HANDLE handle_;
};

}  // namespace

std::unique_ptr<PackageFile> PackageFile::Open(const std::string& path) {
    // Other readers may share the file; writers are refused for as long as
    // the package stays loaded.
    HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        return nullptr;
    }
    return std::make_unique<Win32PackageFile>(handle);
}

std::optional<FileStamp> PackageFile::StampOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    return StampFrom(data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime);
}

}  // namespace korvel
