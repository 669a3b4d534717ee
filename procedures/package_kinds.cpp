#include "procedures/package_kinds.h"

#include <vector>

namespace korvel {

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
