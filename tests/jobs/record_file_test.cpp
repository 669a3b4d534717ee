#include "jobs/record_file.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <thread>

#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

TEST(RecordFileTest, WritersSharingTheFileNeverSplitALine) {
    test::TempDir dir;
    const std::string path = dir.path("station.jsonl").string();
    dir.write("station.jsonl", std::string("{\"earlier\":true}\n"));
    // Two openings stand for two korvel-cli processes on one record.
    constexpr int kLines = 300;
    auto writer = [&](char tag) {
        std::string error;
        auto file = RecordFile::Open(path, error);
        ASSERT_TRUE(file) << error;
        for (int i = 0; i < kLines; ++i) {
            const std::string line = std::string(1, tag) + std::to_string(i) +
                                     std::string(static_cast<std::size_t>(500 + i), tag);
            ASSERT_TRUE(file->Append(line, error)) << error;
        }
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();

    std::istringstream text(dir.read("station.jsonl"));
    std::string line;
    std::getline(text, line);
    EXPECT_EQ(line, "{\"earlier\":true}") << "appended, never truncated";
    std::set<std::string> seen;
    while (std::getline(text, line)) {
        ASSERT_GT(line.size(), 1u);
        const char tag = line[0];
        const int i = std::stoi(line.substr(1));
        EXPECT_EQ(line, std::string(1, tag) + std::to_string(i) +
                            std::string(static_cast<std::size_t>(500 + i), tag));
        seen.insert(std::string(1, tag) + std::to_string(i));
    }
    EXPECT_EQ(seen.size(), 2u * kLines);
}

// A line is whole or absent: whatever the file ended with, the new line
// starts a line of its own.
TEST(RecordFileTest, EveryLineStartsOnALineOfItsOwn) {
    struct Case {
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {"", "{\"b\":2}\n"},
        {"{\"a\":1}\n", "{\"a\":1}\n{\"b\":2}\n"},
        // A line cut short by an earlier failure, or a file edited by hand.
        {"{\"a\":1", "{\"a\":1\n{\"b\":2}\n"},
        {"{\"a\":1}\r", "{\"a\":1}\r\n{\"b\":2}\n"},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const std::string path = dir.write("record.jsonl", std::string(c.before));
        std::string error;
        auto file = RecordFile::Open(path, error);
        ASSERT_TRUE(file) << error;
        ASSERT_TRUE(file->Append("{\"b\":2}", error)) << error;
        EXPECT_EQ(dir.read("record.jsonl"), c.after) << "before: " << c.before;
    }
}

TEST(RecordFileTest, AFolderThatIsNotThereGivesNoFileAndItsReason) {
    test::TempDir dir;
    std::string error;
    EXPECT_FALSE(RecordFile::Open(dir.path("missing/station.jsonl").string(), error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace korvel
