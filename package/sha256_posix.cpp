#include <sha2.h>

#include "package/sha256.h"

namespace korvel {

Sha256Digest Sha256(std::span<const std::uint8_t> data) {
    SHA2_CTX context;
    SHA256Init(&context);
    SHA256Update(&context, data.data(), data.size());
    Sha256Digest digest{};
    SHA256Final(digest.data(), &context);
    return digest;
}

}  // namespace korvel
