#include "bench/support/bench_images.h"

#include <algorithm>

namespace korvel::bench {

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<std::uint8_t>(seed >> 16);
        if (bytes[i] == 0xFF) {
            bytes[i] = 0xFE;
        }
    }
    return bytes;
}

std::vector<std::uint8_t> SparseImage(std::size_t size, const std::vector<Piece>& pieces,
                                      std::uint32_t seed) {
    std::vector<std::uint8_t> image(size, 0xFF);
    for (const Piece& piece : pieces) {
        const std::size_t length = std::min(piece.length, size - std::min(size, piece.offset));
        const std::vector<std::uint8_t> bytes = Pattern(length, seed++);
        std::copy(bytes.begin(), bytes.end(),
                  image.begin() + static_cast<std::ptrdiff_t>(piece.offset));
    }
    return image;
}

}  // namespace korvel::bench
