#include "jobs/serial_counter.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

// Stations sharing one counter take turns: every number goes out once, and
// the file holds the one after the last.
TEST(SerialCounterTest, StationsSharingTheFileNeverGetTheSameNumber) {
    test::TempDir dir;
    const std::string counter = dir.write("serial.txt", std::string("700\n"));
    constexpr int kStations = 4;
    constexpr int kRuns = 25;
    std::vector<std::vector<std::uint64_t>> taken(kStations);
    std::vector<std::thread> stations;
    for (int s = 0; s < kStations; ++s) {
        stations.emplace_back([&, s] {
            for (int r = 0; r < kRuns; ++r) {
                std::string error;
                const auto first = TakeSerialNumbers(counter, 2, UINT32_MAX, error);
                ASSERT_TRUE(first) << error;
                taken[static_cast<std::size_t>(s)].push_back(*first);
                taken[static_cast<std::size_t>(s)].push_back(*first + 1);
            }
        });
    }
    for (std::thread& t : stations) {
        t.join();
    }
    std::set<std::uint64_t> all;
    for (const auto& numbers : taken) {
        all.insert(numbers.begin(), numbers.end());
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kStations * kRuns * 2));
    EXPECT_EQ(*all.begin(), 700u);
    EXPECT_EQ(*all.rbegin(), 899u);
    EXPECT_EQ(dir.read("serial.txt"), "900\n");
}

}  // namespace
}  // namespace korvel
