// Reading the content server's documents: one field at a time, and the
// check of the paths taken out of them.
#include <gtest/gtest.h>

#include <string>

#include "launcher/net/json_reader.h"

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
    // A string value that spells the name is no member: a game file called
    // "size" must not give its entry the number after the next colon.
    EXPECT_EQ(json_field(R"({"label":"size", "n": 1, "size": 9})", "size"), "9");
    EXPECT_EQ(json_field(R"({"url":"size","hash":"ab12","size":5})", "size"), "5");
    EXPECT_EQ(json_field(R"({"url":"size" , "x":1})", "size"), "") << "the only occurrence is a value";
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

}  // namespace
