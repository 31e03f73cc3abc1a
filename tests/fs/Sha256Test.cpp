#include <gtest/gtest.h>

#include <string>

#include "core/Sha256.h"

namespace tarnwell {
namespace {

// Digests of the standard test vectors, fed in pieces that straddle the
// 64-byte blocks, and read part way (which must not disturb the running sum).
TEST(Sha256, KnownVectorsInAnyPieces) {
    struct Case {
        std::string data;
        std::string digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{63}, std::size_t{65537}}) {
            Sha256 h;
            for (std::size_t at = 0; at < c.data.size(); at += piece) {
                h.Update(c.data.data() + at, std::min(piece, c.data.size() - at));
                if (at == piece) h.HexDigest();
            }
            EXPECT_EQ(h.HexDigest(), c.digest) << c.data.size() << " bytes in pieces of " << piece;
        }
    }
}

}  // namespace
}  // namespace tarnwell
