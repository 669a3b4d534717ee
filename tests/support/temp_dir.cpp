#include "tests/support/temp_dir.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace korvel::test {

TempDir::TempDir() {
    // A random name, taken only when the directory did not exist: parallel
    // test programs (and test cases) never share one.
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        dir_ = base / ("korvel-test-" + std::to_string(random()) + std::to_string(random()));
        if (std::filesystem::create_directories(dir_)) {
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory under " + base.string());
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string TempDir::write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    std::ofstream out(path(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path(name).string();
}

std::string TempDir::write(const std::string& name, const std::string& text) const {
    return write(name, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string TempDir::read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace korvel::test
