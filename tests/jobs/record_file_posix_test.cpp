#include "jobs/record_file.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>

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

// The file-size limit stands for a disk that fills up in the middle of a
// line: the system takes part of it, then no more.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        savedAction_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedAction_);
    }

  private:
    rlimit saved_{};
    void (*savedAction_)(int) = nullptr;
};

TEST(RecordFilePosixTest, ALineThatDoesNotFitIsCutBackAndTheNextOneIsWhole) {
    struct Case {
        const char* name;
        const char* before;
        rlim_t limit;
    };
    const Case cases[] = {
        {"the line itself is cut", "{\"a\":1}\n", 12},
        {"the line end put before it fits, the line does not", "{\"a\":1", 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string path = dir.write("record.jsonl", std::string(c.before));
        std::string error;
        auto file = RecordFile::Open(path, error);
        ASSERT_TRUE(file) << error;
        {
            const FileSizeLimit limit(c.limit);
            EXPECT_FALSE(file->Append("{\"b\":2}", error));
        }
        EXPECT_NE(error.find("removed again"), std::string::npos) << error;
        EXPECT_EQ(dir.read("record.jsonl"), c.before) << "cut back to its length before";
        ASSERT_TRUE(file->Append("{\"c\":3}", error)) << error;
        const std::string text = dir.read("record.jsonl");
        EXPECT_EQ(text.substr(text.rfind('{', text.size() - 2)), "{\"c\":3}\n");
        EXPECT_EQ(text.find("{\"b\""), std::string::npos);
    }
}

TEST(RecordFilePosixTest, AFifoIsTakenOnlyWithAReaderAndNeverWaitedFor) {
    test::TempDir dir;
    const std::string fifo = dir.path("record.fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string error;
    // Would hang this test if the open waited for a reader.
    EXPECT_FALSE(RecordFile::Open(fifo, error));
    EXPECT_NE(error.find("without a reader"), std::string::npos) << error;

    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    auto file = RecordFile::Open(fifo, error);
    ASSERT_TRUE(file) << error;
    ASSERT_TRUE(file->Append("{\"a\":1}", error)) << error;
    char text[16] = {};
    EXPECT_EQ(::read(reader, text, sizeof text), 8);
    EXPECT_STREQ(text, "{\"a\":1}\n");
    ::close(reader);
}

}  // namespace
}  // namespace korvel
