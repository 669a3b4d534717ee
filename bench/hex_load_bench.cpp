// How long the ISP procedure takes to load a 512 KB image from its Intel HEX
// text (the first thing a run does), and a package holding it from disk.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "bench/support/bench_images.h"
#include "package/tfilepro.h"
#include "procedures/isp/flash_image.h"
#include "sim/lpc_hex_writer.h"

namespace {

using namespace korvel;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 21;
constexpr double kTargetMs = 20.0;
// The whole address space but its last record, which no image may reach.
constexpr std::size_t kImageBytes = FlashImage::kSize - 16;

template <typename F>
std::vector<double> TimeRounds(F f) {
    std::vector<double> ms;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = Clock::now();
        f();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

void Report(const char* what, const std::vector<double>& ms) {
    std::printf("%-34s %8.2f %8.2f %8.2f\n", what, ms.front(), ms[ms.size() / 2], ms.back());
}

}  // namespace

int main() {
    const std::string hex = sim::WriteIntelHex({{0, bench::Pattern(kImageBytes, 7)}});
    const std::span text(reinterpret_cast<const std::uint8_t*>(hex.data()), hex.size());

    std::printf("Loading a 512 KB image (%zu bytes) from Intel HEX text of %zu KB, %d rounds.\n\n",
                kImageBytes, hex.size() / 1024, kRounds);
    std::printf("%-34s %8s %8s %8s\n", "", "best ms", "median", "worst");

    FlashImage image;
    int total = 0;
    const auto parse = TimeRounds([&] { total = image.LoadHex(text).total; });
    Report("HEX text to flash image", parse);

    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / "korvel-hex-load-bench.pr2";
    {
        const auto package = sim::BuildPackage(
            {{"LPC2138", "1.00", 'F', std::vector<std::uint8_t>(hex.begin(), hex.end()), {0, 0}}});
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(package.data()),
                  static_cast<std::streamsize>(package.size()));
    }
    TFilePro package;
    bool loaded = true;
    const auto read = TimeRounds([&] {
        loaded = loaded && package.LoadFromFile(file.string());
        loaded = loaded && image.LoadHex(package.entryImage(0)).ok();
    });
    package.Clear();
    std::filesystem::remove(file);
    Report("package from disk, then HEX text", read);

    const bool ok = total == static_cast<int>(kImageBytes) && loaded;
    std::printf("\nTarget: %.0f ms. %s\n", kTargetMs,
                !ok                               ? "FAILED: the image did not load"
                : parse[kRounds / 2] <= kTargetMs ? "Met (median)."
                                                  : "Missed (median).");
    return ok ? 0 : 1;
}
