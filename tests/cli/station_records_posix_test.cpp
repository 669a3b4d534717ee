#include <gtest/gtest.h>

#include <cstdio>

#include "cli/station_records.h"
#include "tests/cli/station_records_cases.h"
#include "tests/support/temp_dir.h"

namespace korvel::cli {
namespace {

using namespace test_cases;

// A stream opened for reading refuses every write on POSIX, as standard
// output does once its reader went away (SIGPIPE ignored).
TEST(StationRecordsTest, AStandardOutputThatRefusesALineIsSaidOnceAndTheRecordGoesOn) {
    test::TempDir dir;
    const std::string path = dir.write("record.jsonl", std::string());
    const std::string closedPipe = dir.write("read-only", std::string());
    std::string error;
    auto file = RecordFile::Open(path, error);
    ASSERT_TRUE(file) << error;
    // A stream that takes no write stands for a reader that went away.
    std::FILE* json = std::fopen(closedPipe.c_str(), "r");
    ASSERT_NE(json, nullptr);
    StationRecords records(Boards(2), std::move(file), path, json,
                           [](std::size_t, const std::string&) {});
    testing::internal::CaptureStderr();
    records.Write(0, Ended(0, RunResult::Success));
    records.Write(1, Ended(1, RunResult::Success));
    const std::string said = testing::internal::GetCapturedStderr();
    std::fclose(json);
    EXPECT_EQ(records.ExitCode(), 74);
    EXPECT_EQ(Lines(dir.read("record.jsonl")).size(), 2u);
    EXPECT_EQ(Lines(said).size(), 1u) << said;
    EXPECT_NE(said.find("standard output takes no more JSON lines"), std::string::npos) << said;
}

}  // namespace
}  // namespace korvel::cli
