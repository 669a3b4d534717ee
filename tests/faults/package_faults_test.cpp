// A package file changed, replaced or deleted while a run reads it: the run
// programs what was loaded.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "sim/resident_loader_model.h"
#include "tests/faults/driver_run.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Image() {
    std::vector<std::uint8_t> image(5000);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 5 + 1);
    }
    return image;
}

TEST(PackageFaultsTest, ARunProgramsWhatWasLoadedWhateverHappensToTheFile) {
    const struct {
        const char* what;
        std::function<void(const std::string&)> change;
    } cases[] = {
        {"overwritten in place",
         [](const std::string& file) {
             std::ofstream out(file, std::ios::binary | std::ios::trunc);
             out << std::string(9000, 'Z');
         }},
        // Where the system keeps writers out of a loaded package (Windows),
        // the change itself fails: what matters is that the run is unharmed.
        {"truncated",
         [](const std::string& file) {
             std::error_code ec;
             fs::resize_file(file, 40, ec);
         }},
        {"replaced",
         [](const std::string& file) {
             {
                 std::ofstream out(file + ".new", std::ios::binary);
                 out << "BA not a package at all";
             }
             std::error_code ec;
             fs::rename(file + ".new", file, ec);
         }},
        {"deleted",
         [](const std::string& file) {
             std::error_code ec;
             fs::remove(file, ec);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::ResidentLoaderModel board;
        bool changed = false;
        // The file changes once the run has connected, before any block went out.
        const test::DriverRun run = test::RunThroughDriver(
            board, {{"BOARD", "2.10", ')', Image()}}, 38400,
            [&](const std::vector<std::string>& texts, const std::string& file) {
                if (!changed && texts.back() == "Connected") {
                    changed = true;
                    c.change(file);
                }
            });
        EXPECT_TRUE(changed);
        EXPECT_EQ(run.result, RunResult::Success);
        const std::vector<std::uint8_t> image = Image();
        const auto area = board.imageArea();
        EXPECT_TRUE(std::equal(image.begin(), image.end(), area.begin()));
    }
}

}  // namespace
}  // namespace korvel
