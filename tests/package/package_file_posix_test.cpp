// The POSIX package file keeps locking writers out while it is open, not
// once the package is loaded, and opens nothing but regular files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "package/tfilepro.h"
#include "sim/package_writer.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

TEST(PackageFilePosixTest, LockingWritersWaitForTheReadNotForTheLoadedPackage) {
    test::TempDir dir;
    const auto file = dir.write("a.pr2", sim::BuildPackage({{"A", "1", 'F', {1}}}));
    const int fd = ::open(file.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    {
        const auto reading = PackageFile::Open(file);
        ASSERT_NE(reading, nullptr);
        EXPECT_NE(::fcntl(fd, F_OFD_SETLK, &lock), 0) << "a writer could lock a package being read";
    }
    TFilePro pro;
    ASSERT_TRUE(pro.LoadFromFile(file));
    EXPECT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0) << "the loaded package kept writers out";
    // Now being written: it does not load.
    EXPECT_FALSE(pro.LoadFromFile(file));
    ::close(fd);
}

TEST(PackageFilePosixTest, AnythingButARegularFileIsRefusedWithoutBlocking) {
    test::TempDir dir;
    const std::string fifo = dir.path("fifo.pr2").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    TFilePro pro;
    // Opening a FIFO for reading waits for a writer: this would hang.
    for (const std::string& path : {fifo, std::string("/dev/null"), std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(pro.LoadFromFile(path));
        EXPECT_EQ(pro.entryCount(), 0);
    }
}

}  // namespace
}  // namespace korvel
