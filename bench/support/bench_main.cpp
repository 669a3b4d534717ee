#include "bench/support/bench_main.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>

namespace korvel::bench {

namespace {

constexpr double kNsPerS = 1e9;

double Seconds(VirtualNs ns) {
    return static_cast<double>(ns) / kNsPerS;
}

// A directory for the packages: the one asked for, or a temporary one that
// goes away with this object.
class PackageDir {
  public:
    explicit PackageDir(const std::string& asked) {
        if (!asked.empty()) {
            path_ = asked;
            std::filesystem::create_directories(path_);
            return;
        }
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const auto candidate = std::filesystem::temp_directory_path() /
                                   ("korvel-bench-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate)) {
                path_ = candidate;
            }
        }
        if (path_.empty()) {
            throw std::runtime_error("cannot make a temporary directory");
        }
        temporary_ = true;
    }
    ~PackageDir() {
        if (temporary_) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    PackageDir(const PackageDir&) = delete;
    PackageDir& operator=(const PackageDir&) = delete;

    std::filesystem::path file(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
    bool temporary_ = false;
};

bool WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

struct Arguments {
    std::string packages;
    std::optional<std::string> image;
    bool tsv = false;
};

std::optional<Arguments> Parse(int argc, char** argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--tsv") {
            a.tsv = true;
        } else if (arg == "--packages" && i + 1 < argc) {
            a.packages = argv[++i];
        } else if (arg == "--image" && i + 1 < argc) {
            a.image = argv[++i];
        } else {
            return std::nullopt;
        }
    }
    return a;
}

void PrintHeader(const BenchSpec& spec) {
    std::printf("%s\n%s\n", spec.title.c_str(), spec.board.c_str());
    std::printf(
        "Bound: the same bytes in the same order at the line rate, the board's own delays,\n"
        "the dialogue's pauses; a host that adds nothing. Ratio: virtual time / bound.\n"
        "In it: line s (character times, both ways; an echo overlaps), board s (the\n"
        "board's delays), pause s (the dialogue's pauses); they overlap in part.\n\n");
    std::printf("%-9s %-38s %8s %8s %8s %8s %8s %9s %9s %6s\n", "image", "content", "out B", "in B",
                "line s", "board s", "pause s", "bound s", "virtual s", "ratio");
}

void PrintRow(const BenchImage& image, const BenchResult& r) {
    const ProtocolBound& b = r.run.bound;
    std::printf("%-9s %-38s %8zu %8zu %8.2f %8.2f %8.2f %9.2f %9.2f %6.3f%s\n", image.name.c_str(),
                image.description.c_str(), r.run.hostBytes, r.run.boardBytes,
                Seconds(b.hostLineNs + b.boardLineNs), Seconds(b.boardWaitNs), Seconds(b.pauseNs),
                Seconds(b.boundNs), Seconds(r.run.runNs), r.run.ratio(),
                r.run.result != RunResult::Success ? "  FAILED: the run did not succeed"
                : !r.holdsImage                    ? "  FAILED: the board does not hold the image"
                                                   : "");
}

}  // namespace

int BenchMain(int argc, char** argv, const BenchSpec& spec) {
    const std::optional<Arguments> args = Parse(argc, argv);
    if (!args) {
        std::fprintf(stderr, "usage: %s [--packages DIR] [--image NAME] [--tsv]\n", argv[0]);
        return 64;
    }
    PackageDir dir(args->packages);
    if (!args->tsv) {
        PrintHeader(spec);
    }
    bool allGood = true;
    bool found = false;
    for (const BenchImage& image : spec.images) {
        if (args->image && *args->image != image.name) {
            continue;
        }
        found = true;
        const std::filesystem::path file = dir.file(spec.prefix + "-" + image.name + ".pr2");
        TFilePro package;
        if (!WriteFile(file, sim::BuildPackage(image.entries)) ||
            !package.LoadFromFile(file.string())) {
            std::fprintf(stderr, "cannot write or load %s\n", file.string().c_str());
            return 1;
        }
        const BenchResult r = spec.program(image, package);
        const bool good = r.run.result == RunResult::Success && r.holdsImage;
        allGood = allGood && good;
        if (args->tsv) {
            std::printf("%s\t%s\t%.3f\t%.3f\t%.4f\t%s\n", spec.prefix.c_str(), image.name.c_str(),
                        Seconds(r.run.runNs), Seconds(r.run.bound.boundNs), r.run.ratio(),
                        good ? "ok" : "FAILED");
        } else {
            PrintRow(image, r);
        }
        std::fflush(stdout);
    }
    if (!found) {
        std::fprintf(stderr, "%s: no image named '%s'\n", argv[0], args->image->c_str());
        return 64;
    }
    return allGood ? 0 : 1;
}

}  // namespace korvel::bench
