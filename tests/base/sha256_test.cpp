// SHA-256 as the manifest records it: the published test vectors, and the same digest when the
// bytes come in pieces.
#include "base/sha256.h"

#include <gtest/gtest.h>

#include <string>

TEST(Sha256, KnownDigestsWholeAndInPieces)
{
    const struct {
        std::string bytes;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ubin::Sha256Hex(c.bytes), c.digest) << c.bytes.size();
        ubin::Sha256 pieces;
        for (std::size_t i = 0; i < c.bytes.size(); i += 4093) pieces.Add(std::string_view(c.bytes).substr(i, 4093));
        EXPECT_EQ(pieces.HexDigest(), c.digest) << c.bytes.size();
    }
}
