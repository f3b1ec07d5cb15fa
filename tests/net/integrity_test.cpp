// Reading server documents and SHA-256 digests.
#include <gtest/gtest.h>

#include "launcher/net/json_reader.h"
#include "launcher/net/sha256.h"
#include "test_support.h"

namespace {

TEST(JsonField, StringsAndBareTokens) {
    const std::string doc =
        "{\"version\": \"0.2.0\" , \"size\"  :\t\r\n 1048576,\"ok\":true,\"none\":null,"
        "\"off\":false}";
    EXPECT_EQ(json_field(doc, "version"), "0.2.0");
    EXPECT_EQ(json_field(doc, "size"), "1048576");
    EXPECT_EQ(json_field(doc, "ok"), "true");
    EXPECT_EQ(json_field(doc, "none"), "null");
    EXPECT_EQ(json_field(doc, "off"), "false");
    EXPECT_EQ(json_field(doc, "missing"), "");
    // A bare number at the very end of the text is returned whole.
    EXPECT_EQ(json_field("\"size\": 42", "size"), "42");
    EXPECT_EQ(json_field("\"a\":7}", "a"), "7");
}

TEST(JsonField, RawBytesWithoutUnescaping) {
    EXPECT_EQ(json_field(R"({"p":"a\\b\u0041"})", "p"), R"(a\\b\u0041)");
    // An escaped quote ends the value early: the reader does not decode.
    EXPECT_EQ(json_field(R"({"p":"say \"hi\""})", "p"), R"(say \)");
    EXPECT_EQ(json_field("{\"p\":\"Игры\"}", "p"), "Игры");
    EXPECT_EQ(json_field("{\"p\":\"\"}", "p"), "");
}

TEST(JsonField, FirstOccurrenceWinsWhateverItsNesting) {
    EXPECT_EQ(json_field(R"({"meta":{"size":"1"},"size":2})", "size"), "1");
    // A string value equal to the quoted name counts as an occurrence too.
    EXPECT_EQ(json_field(R"({"label":"size", "n": 1, "size": 9})", "size"), "1");
    // Arrays: the opening bracket and the first element, cut at the comma.
    EXPECT_EQ(json_field(R"({"files":[1,2,3]})", "files"), "[1");
    EXPECT_EQ(json_field(R"({"files":[7]})", "files"), "[7]");
}

TEST(JsonField, MalformedTextGivesEmpty) {
    EXPECT_EQ(json_field("", "a"), "");
    EXPECT_EQ(json_field("\"a\"", "a"), "") << "no colon";
    EXPECT_EQ(json_field("\"a\":   \r\n", "a"), "") << "only blanks after the colon";
    EXPECT_EQ(json_field("\"a\": \"open", "a"), "") << "unterminated string";
}

TEST(SafeServerPath, AcceptsPlainPathsOnly) {
    EXPECT_TRUE(is_safe_server_path("/"));
    EXPECT_TRUE(is_safe_server_path("/pc/files/models/gta3.img"));
    EXPECT_TRUE(is_safe_server_path("/pc/$fx/a-b_c.d"));
    EXPECT_TRUE(is_safe_server_path("/" + std::string(299, 'a')));
    EXPECT_FALSE(is_safe_server_path("/" + std::string(300, 'a')));

    for (const char* bad : {"", "pc/a", "\\pc\\a", "/pc/../a", "/pc/..", "/a..b", "//a", "/a//b",
                            "/a b", "/a%2e", "/a?b=1", "/a\\b", "/a:b", "/a\tb"})
        EXPECT_FALSE(is_safe_server_path(bad)) << bad;
    EXPECT_FALSE(is_safe_server_path("/Игры")) << "bytes of 128 and above";
    EXPECT_FALSE(is_safe_server_path(std::string("/a\0b", 4)));
}

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
