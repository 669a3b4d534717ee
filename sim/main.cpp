// korvel-sim: board simulators served on a pty, and a package builder for
// tests and demos.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/package_writer.h"

namespace {

int Usage(std::FILE* out, int code) {
    std::fprintf(out,
                 "Usage:\n"
                 "  korvel-sim pack -o OUT.pr2 ENTRY...\n"
                 "      ENTRY is KIND:NAME:VERSION:DATAFILE; the first entry's kind\n"
                 "      selects the procedure (for example F:LPC2138:1.00:fw.hex).\n");
    return code;
}

int Pack(const std::vector<std::string>& args) {
    std::string output;
    std::vector<korvel::sim::PackageEntry> entries;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size()) {
            output = args[++i];
            continue;
        }
        const std::string& spec = args[i];
        const auto a = spec.find(':');
        const auto b = a == std::string::npos ? a : spec.find(':', a + 1);
        const auto c = b == std::string::npos ? b : spec.find(':', b + 1);
        if (c == std::string::npos || a != 1) {
            std::fprintf(stderr, "korvel-sim: bad entry '%s' (want KIND:NAME:VERSION:DATAFILE)\n",
                         spec.c_str());
            return 64;
        }
        korvel::sim::PackageEntry e;
        e.kind = spec[0];
        e.name = spec.substr(a + 1, b - a - 1);
        e.version = spec.substr(b + 1, c - b - 1);
        const std::string file = spec.substr(c + 1);
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "korvel-sim: cannot read '%s'\n", file.c_str());
            return 66;
        }
        e.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        entries.push_back(std::move(e));
    }
    if (output.empty() || entries.empty()) {
        return Usage(stderr, 64);
    }
    const auto bytes = korvel::sim::BuildPackage(entries);
    std::ofstream out(output, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "korvel-sim: cannot write '%s'\n", output.c_str());
        return 73;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        return Usage(stdout, args.empty() ? 64 : 0);
    }
    if (args[0] == "pack") {
        return Pack({args.begin() + 1, args.end()});
    }
    std::fprintf(stderr, "korvel-sim: unknown command '%s'\n", args[0].c_str());
    return Usage(stderr, 64);
}
