#pragma once

#include <functional>
#include <string>
#include <vector>

#include "bench/support/bench_images.h"
#include "bench/support/virtual_run.h"
#include "package/tfilepro.h"

namespace korvel::bench {

// One image programmed, and whether the board model ended up holding it.
struct BenchResult {
    VirtualRun run;
    bool holdsImage = false;
};

// A procedure's bench: its images and how to program one of them.
struct BenchSpec {
    std::string title;   // what is programmed, at which rate
    std::string board;   // what the board model takes, in a line or two
    std::string prefix;  // package files are named <prefix>-<image>.pr2
    std::vector<BenchImage> images;
    std::function<BenchResult(const BenchImage&, const TFilePro&)> program;
};

// The common command line of the bench programs:
//   [--packages DIR]  write the packages there and keep them (else a
//                     temporary directory that is removed)
//   [--image NAME]    only this image
//   [--tsv]           one tab-separated line per image, for scripts:
//                     prefix, image, virtual s, bound s, ratio, ok
// Returns the exit code: 0 when every run succeeded and left the image on
// the board, 1 otherwise, 64 for a bad command line.
int BenchMain(int argc, char** argv, const BenchSpec& spec);

}  // namespace korvel::bench
