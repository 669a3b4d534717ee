// The Windows package file: while it is read, readers share it and writers are
// refused; a loaded package can be rebuilt.
#include <windows.h>

#include <gtest/gtest.h>

#include "package/tfilepro.h"
#include "sim/package_writer.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

// Opens the file as another program would; returns the handle or INVALID_HANDLE_VALUE.
HANDLE OpenAsOther(const std::string& path, DWORD access) {
    return ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

class PackageFileWin32Test : public ::testing::Test {
  protected:
    test::TempDir dir;
    TFilePro pro;
    std::string file = dir.write("a.pr2", sim::BuildPackage({{"LPC2138", "1.0", 'F', {1, 2}}}));
};

TEST_F(PackageFileWin32Test, WritersWaitForTheReadNotForTheLoadedPackage) {
    {
        const auto reading = PackageFile::Open(file);
        ASSERT_NE(reading, nullptr);
        HANDLE reader = OpenAsOther(file, GENERIC_READ);
        EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "another reader was refused";
        if (reader != INVALID_HANDLE_VALUE) {
            ::CloseHandle(reader);
        }
        HANDLE writer = OpenAsOther(file, GENERIC_WRITE);
        const DWORD error = ::GetLastError();
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "a writer could open a package being read";
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        if (writer != INVALID_HANDLE_VALUE) {
            ::CloseHandle(writer);
        }
    }
    // Loaded, the package can be rebuilt: the next run loads it again.
    ASSERT_TRUE(pro.LoadFromFile(file));
    HANDLE writer = OpenAsOther(file, GENERIC_WRITE);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "the loaded package kept writers out";
    if (writer != INVALID_HANDLE_VALUE) {
        ::CloseHandle(writer);
    }
}

TEST_F(PackageFileWin32Test, PackageBeingWrittenDoesNotLoad) {
    HANDLE writer = OpenAsOther(file, GENERIC_WRITE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(pro.LoadFromFile(file));
    EXPECT_EQ(pro.entryCount(), 0);
    ::CloseHandle(writer);
    ASSERT_TRUE(pro.LoadFromFile(file));
    EXPECT_EQ(pro.entryName(0), "LPC2138");
    ASSERT_EQ(pro.entrySize(0), 2);
    EXPECT_EQ(pro.entryData(0)[1], 2);
}

TEST_F(PackageFileWin32Test, DirectoryIsNotAPackage) {
    EXPECT_FALSE(pro.LoadFromFile(dir.path("").string()));
}

}  // namespace
}  // namespace korvel
