#include "jobs/record_file.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

TEST(RecordFilePosixTest, AFileThatCannotTakeTheLineSaysWhy) {
    test::TempDir dir;
    std::string error;
    EXPECT_FALSE(RecordFile::Open(dir.path("").string(), error)) << "a directory";
    EXPECT_NE(error.find("directory"), std::string::npos) << error;

    // A disk that is full: the line is not on it, and Append says so.
    auto full = RecordFile::Open("/dev/full", error);
    ASSERT_TRUE(full) << error;
    EXPECT_FALSE(full->Append("{\"result\":0}", error));
    EXPECT_NE(error.find("space"), std::string::npos) << error;
}

}  // namespace
}  // namespace korvel
