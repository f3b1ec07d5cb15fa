// SHA-256 digests.
#include <gtest/gtest.h>

#include "launcher/net/sha256.h"
#include "test_support.h"

namespace {

TEST(Sha256, KnownVectors) {
    EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    std::string million(1000000, 'a');
    EXPECT_EQ(sha256_hex(million),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, BlockSizesDoNotMatter) {
    std::string data;
    for (int i = 0; i < 300000; ++i) data.push_back(static_cast<char>(i * 131 + (i >> 7)));
    const std::string whole = sha256_hex(data);
    for (size_t block : {1u, 63u, 64u, 65u, 4096u, 262144u}) {
        Sha256Hasher hasher;
        ASSERT_GE(hasher.open(), 0);
        for (size_t at = 0; at < data.size(); at += block)
            hasher.update(data.data() + at, std::min(block, data.size() - at));
        hasher.update(data.data(), 0);
        EXPECT_EQ(hasher.hex_digest(), whole) << "block " << block;
        hasher.close();
    }
}

TEST(Sha256, InertHasherNeverGivesADigest) {
    Sha256Hasher never_opened;
    EXPECT_TRUE(never_opened.inert());
    EXPECT_EQ(never_opened.update("abc", 3), 0);
    EXPECT_EQ(never_opened.hex_digest(), "");
    never_opened.close();
    never_opened.close();

    // After finishing, further data is ignored and no second digest appears.
    Sha256Hasher finished;
    finished.open();
    finished.update("abc", 3);
    EXPECT_EQ(finished.hex_digest().size(), 64u);
    EXPECT_EQ(finished.update("x", 1), 0);
    EXPECT_EQ(finished.hex_digest(), "");
}

}  // namespace
