#include <windows.h>

#include <shlobj.h>

#include <string>

#include "settings/settings_location.h"

namespace korvel {

// Whether this user may create a file there, found by creating one: the
// folder's access list, not its read-only attribute, decides on Windows. The
// file goes away with its handle.
bool DirectoryTakesNewFiles(const std::filesystem::path& directory) {
    const std::string probe =
        (directory / ("korvel-" + std::to_string(::GetCurrentProcessId()) + ".probe")).string();
    HANDLE handle = ::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::CloseHandle(handle);
    return true;
}

// %APPDATA%\Korvel: the roaming application data of the user.
std::filesystem::path UserSettingsFolder() {
    char folder[MAX_PATH] = {};
    if (::SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK ||
        folder[0] == '\0') {
        return {};
    }
    return std::filesystem::path(folder) / "Korvel";
}

}  // namespace korvel
