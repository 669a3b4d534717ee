#include "package/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvel {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(Sha256Test, DigestsOfKnownTexts) {
    // The published test vectors of SHA-256.
    struct Row {
        std::vector<std::uint8_t> data;
        const char* digest;
    };
    const Row rows[] = {
        {Bytes(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {Bytes("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {Bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::vector<std::uint8_t>(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Sha256Hex(row.data), row.digest) << row.data.size() << " bytes";
    }
}

}  // namespace
}  // namespace korvel
