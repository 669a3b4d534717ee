#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <stdexcept>

#include "package/sha256.h"

namespace korvel {

namespace {

struct Provider {
    BCRYPT_ALG_HANDLE handle = nullptr;
    ~Provider() {
        if (handle != nullptr) {
            ::BCryptCloseAlgorithmProvider(handle, 0);
        }
    }
};

struct Hash {
    BCRYPT_HASH_HANDLE handle = nullptr;
    ~Hash() {
        if (handle != nullptr) {
            ::BCryptDestroyHash(handle);
        }
    }
};

}  // namespace

Sha256Digest Sha256(std::span<const std::uint8_t> data) {
    Provider provider;
    Hash hash;
    if (!BCRYPT_SUCCESS(
            ::BCryptOpenAlgorithmProvider(&provider.handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(
            ::BCryptCreateHash(provider.handle, &hash.handle, nullptr, 0, nullptr, 0, 0))) {
        throw std::runtime_error("SHA-256 is not available from the system");
    }
    // BCryptHashData takes a ULONG length: larger inputs go in pieces.
    constexpr std::size_t kPiece = std::size_t{1} << 30;
    for (std::size_t at = 0; at < data.size(); at += kPiece) {
        const std::size_t n = std::min(kPiece, data.size() - at);
        if (!BCRYPT_SUCCESS(::BCryptHashData(hash.handle, const_cast<PUCHAR>(data.data() + at),
                                             static_cast<ULONG>(n), 0))) {
            throw std::runtime_error("SHA-256 failed in the system's implementation");
        }
    }
    Sha256Digest digest{};
    if (!BCRYPT_SUCCESS(
            ::BCryptFinishHash(hash.handle, digest.data(), static_cast<ULONG>(digest.size()), 0))) {
        throw std::runtime_error("SHA-256 failed in the system's implementation");
    }
    return digest;
}

}  // namespace korvel
