#include "cli/station_records.h"

#include <gtest/gtest.h>

#include "tests/cli/station_records_cases.h"
#include "tests/support/temp_dir.h"

namespace korvel::cli {
namespace {

using namespace test_cases;

class RefusingRecord : public RecordFile {
  public:
    bool Append(const std::string&, std::string& error) override {
        error = "No space left on device";
        return false;
    }
};

// Three boards; some end, then a second stop request ends the rest at once.
TEST(StationRecordsTest, EveryBoardThatStartedGetsOneLineAndTheExitSaysWhatHappened) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::size_t, RunResult>> ended;
        bool stoppedAtOnce;
        bool recordRefuses;
        int exitCode;
    };
    const Case cases[] = {
        {"all succeed",
         {{2, RunResult::Success}, {0, RunResult::Success}, {1, RunResult::Success}},
         false,
         false,
         0},
        {"the first failure in port order",
         {{2, RunResult::DeviceError}, {0, RunResult::Success}, {1, RunResult::PortNotOpened}},
         false,
         false,
         1},
        {"stopped at once: the rest are aborted", {{1, RunResult::Success}}, true, false, 5},
        {"stopped at once after a failure", {{2, RunResult::PortNotOpened}}, true, false, 5},
        {"stopped at once with nothing ended", {}, true, false, 5},
        {"the record fails: 74 before any result", {{0, RunResult::DeviceError}}, true, true, 74},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string path = dir.write("record.jsonl", std::string());
        std::string error;
        std::unique_ptr<RecordFile> file = std::make_unique<RefusingRecord>();
        if (!c.recordRefuses) {
            file = RecordFile::Open(path, error);
            ASSERT_TRUE(file) << error;
        }
        std::FILE* json = std::tmpfile();
        std::vector<std::string> said;
        StationRecords records(Boards(3), std::move(file), path, json,
                               [&](std::size_t i, const std::string& text) {
                                   said.push_back(std::to_string(i) + ": " + text);
                               });
        for (const auto& [index, result] : c.ended) {
            records.Write(index, Ended(index, result));
            records.Write(index, Ended(index, RunResult::Success));  // a second end is no line
        }
        int code = records.ExitCode();
        if (c.stoppedAtOnce) {
            code = records.WriteStopped([](std::size_t i) { return "Erase " + std::to_string(i); });
        }
        EXPECT_EQ(code, c.exitCode);
        std::rewind(json);
        std::string out;
        for (int ch; (ch = std::fgetc(json)) != EOF;) {
            out.push_back(static_cast<char>(ch));
        }
        std::fclose(json);
        const auto lines = Lines(out);
        const std::size_t expected = c.stoppedAtOnce ? 3 : c.ended.size();
        ASSERT_EQ(lines.size(), expected) << out;
        if (!c.recordRefuses) {
            EXPECT_EQ(dir.read("record.jsonl"), out) << "the record and standard output agree";
        }
        for (std::size_t i = 0; i < 3 && c.stoppedAtOnce; ++i) {
            const std::string port = "\"port\":\"COM" + std::to_string(i + 1) + "\"";
            int found = 0;
            for (const std::string& line : lines) {
                found += line.find(port) != std::string::npos;
            }
            EXPECT_EQ(found, 1) << "one line for " << port;
        }
        for (const std::string& line : lines) {
            if (line.find("\"message\":\"ended\"") == std::string::npos) {
                EXPECT_NE(line.find(R"("result":5,"result_name":"Aborted","status":"Erase )"),
                          std::string::npos)
                    << line;
                EXPECT_NE(line.find(R"("message":"stopped at once)"), std::string::npos) << line;
            }
        }
    }
}

}  // namespace
}  // namespace korvel::cli
