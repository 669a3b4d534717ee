#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace korvel::test {

// A fresh directory for one test, removed with everything in it afterwards.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::filesystem::path path(const std::string& name) const { return dir_ / name; }
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
    std::string write(const std::string& name, const std::string& text) const;
    std::string read(const std::string& name) const;

  private:
    std::filesystem::path dir_;
};

}  // namespace korvel::test
