#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvel::sim {

// One entry of a ".pr2" package as a package builder lays it out.
struct PackageEntry {
    std::string name;     // at most 14 bytes are stored
    std::string version;  // at most 7 bytes are stored
    char kind = 0;
    std::vector<std::uint8_t> data;
    std::uint8_t trailer[2] = {0, 0};
};

// The bytes of a package file: per entry a 32-byte header ("BA", name,
// version, big-endian size, kind), the data and two trailer bytes.
std::vector<std::uint8_t> BuildPackage(const std::vector<PackageEntry>& entries);

}  // namespace korvel::sim
