// The POSIX package file keeps locking writers out while a package is loaded.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "package/tfilepro.h"
#include "sim/package_writer.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

TEST(PackageFilePosixTest, LoadedPackageRefusesLockingWriters) {
    test::TempDir dir;
    TFilePro pro;
    const auto file = dir.write("a.pr2", sim::BuildPackage({{"A", "1", 'F', {1}}}));
    ASSERT_TRUE(pro.LoadFromFile(file));
    const int fd = ::open(file.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    EXPECT_NE(::fcntl(fd, F_OFD_SETLK, &lock), 0) << "a writer could lock the loaded package";
    pro.Clear();
    EXPECT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0) << "the package stayed locked after Clear";
    ::close(fd);
}

}  // namespace
}  // namespace korvel
