#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace korvel {

using Sha256Digest = std::array<std::uint8_t, 32>;

// SHA-256 by the system's own implementation (libmd, or BCrypt on Windows).
Sha256Digest Sha256(std::span<const std::uint8_t> data);

// The digest as 64 lower-case hex digits.
std::string Sha256Hex(std::span<const std::uint8_t> data);

}  // namespace korvel
