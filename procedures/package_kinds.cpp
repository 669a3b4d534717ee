#include "procedures/package_kinds.h"

#include <algorithm>
#include <vector>

namespace korvel {

std::string PatchImageAt(std::vector<std::uint8_t>& image, std::uint32_t at,
                         std::span<const std::uint8_t> bytes) {
    if (static_cast<std::uint64_t>(at) + bytes.size() > image.size()) {
        return "image offset " + std::to_string(at) + " to " +
               std::to_string(static_cast<std::uint64_t>(at) + bytes.size() - 1) +
               " lies beyond the image's " + std::to_string(image.size()) +
               " bytes: place the serial number inside the image";
    }
    std::copy(bytes.begin(), bytes.end(), image.begin() + at);
    return {};
}

std::span<const DriverEntry> StandardDrivers() {
    static const std::vector<DriverEntry> drivers = [] {
        std::vector<DriverEntry> table;
        for (const PackageKind& k : kPackageKinds) {
            if (k.driver != nullptr) {
                table.push_back(DriverEntry{k.kind, k.procedure, k.driver});
            }
        }
        return table;
    }();
    return drivers;
}

}  // namespace korvel
