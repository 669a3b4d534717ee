// The POSIX package file keeps locking writers out while a package is loaded,
// opens nothing but regular files, and sees a package that changed on disk
// (POSIX lets others write a loaded package; Windows keeps them out).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>

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

TEST(PackageFilePosixTest, APackageChangedOnDiskIsLoadedAgainBeforeARun) {
    namespace fs = std::filesystem;
    using Freshness = TFilePro::Freshness;
    const auto kOld = sim::BuildPackage({{"OLD", "1.0", 'F', {1, 2, 3}}});
    struct Case {
        const char* name;
        std::function<void(test::TempDir&, const std::string&)> change;
        Freshness freshness;
        std::string device;  // entry 0's name afterwards
    };
    const std::vector<Case> cases = {
        {"untouched", [](test::TempDir&, const std::string&) {}, Freshness::Unchanged, "OLD"},
        {"rewritten with another size",
         [](test::TempDir& d, const std::string&) {
             d.write("a.pr2", sim::BuildPackage({{"NEW", "2.0", 'F', {1, 2, 3, 4}}}));
         },
         Freshness::Reloaded, "NEW"},
        {"same size, modified later",
         [](test::TempDir& d, const std::string& file) {
             const auto when = fs::last_write_time(file);
             d.write("a.pr2", sim::BuildPackage({{"NEW", "2.0", 'F', {7, 8, 9}}}));
             fs::last_write_time(file, when + std::chrono::seconds(2));
         },
         Freshness::Reloaded, "NEW"},
        {"no longer a package",
         [](test::TempDir& d, const std::string&) { d.write("a.pr2", std::string("garbage")); },
         Freshness::NoLongerLoads, ""},
        {"removed", [](test::TempDir&, const std::string& file) { fs::remove(file); },
         Freshness::NoLongerLoads, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        TFilePro pro;
        const auto file = dir.write("a.pr2", kOld);
        ASSERT_TRUE(pro.LoadFromFile(file));
        c.change(dir, file);
        EXPECT_EQ(pro.ReloadIfChanged(), c.freshness);
        EXPECT_EQ(pro.entryName(0), c.device);
        // Loaded again, the file is as loaded until it changes once more.
        if (c.freshness != Freshness::NoLongerLoads) {
            EXPECT_EQ(pro.ReloadIfChanged(), Freshness::Unchanged);
        }
    }
}

}  // namespace
}  // namespace korvel
