#include "sim/package_writer.h"

#include <algorithm>

#include "util/byte_order.h"

namespace korvel::sim {

std::vector<std::uint8_t> BuildPackage(const std::vector<PackageEntry>& entries) {
    std::vector<std::uint8_t> out;
    for (const PackageEntry& e : entries) {
        std::uint8_t header[32] = {'B', 'A'};
        std::copy_n(e.name.begin(), std::min<std::size_t>(e.name.size(), 14), header + 2);
        std::copy_n(e.version.begin(), std::min<std::size_t>(e.version.size(), 7), header + 16);
        const auto size = static_cast<std::uint32_t>(e.data.size());
        PutBigEndian32(header + 23, size);
        header[28] = static_cast<std::uint8_t>(e.kind);
        out.insert(out.end(), header, header + 32);
        out.insert(out.end(), e.data.begin(), e.data.end());
        out.insert(out.end(), e.trailer, e.trailer + 2);
    }
    return out;
}

}  // namespace korvel::sim
