// Reading the page's messages: the prefix, the members of each type, the
// string decoding and the nick rule.
#include <gtest/gtest.h>

#include <string>

#include "launcher/session/page_message.h"

namespace {

TEST(PageMessage, OnlyPrefixedLinesAreForTheLauncher) {
    std::string json = "unchanged";
    EXPECT_FALSE(launcher_message_of("", json));
    EXPECT_FALSE(launcher_message_of("__launcher__", json)) << "the prefix ends with its colon";
    EXPECT_FALSE(launcher_message_of(" __launcher__:{}", json));
    EXPECT_FALSE(launcher_message_of("__LAUNCHER__:{}", json));
    EXPECT_EQ(json, "unchanged");
    ASSERT_TRUE(launcher_message_of("__launcher__:", json));
    EXPECT_EQ(json, "");
    ASSERT_TRUE(launcher_message_of("__launcher__:{\"type\":\"ready\"}", json));
    EXPECT_EQ(json, "{\"type\":\"ready\"}");
}

TEST(PageMessage, EachTypeCarriesItsOwnMembersOnly) {
    // As the page's JSON.stringify writes them.
    PageMessage nick =
        read_page_message(R"({"type":"nick","serverId":"test","nick":"Ivan_Petrov"})");
    EXPECT_EQ(nick.type, "nick");
    EXPECT_EQ(nick.nick, "Ivan_Petrov");
    EXPECT_EQ(nick.server_id, "test");
    EXPECT_EQ(nick.name, "");

    PageMessage link = read_page_message(R"({"type":"link","name":"vk","nick":"Ab_Cd"})");
    EXPECT_EQ(link.name, "vk");
    EXPECT_EQ(link.nick, "") << "a member another type carries is not read";

    PageMessage install = read_page_message(R"({"type":"install","name":"x","nick":"Ab"})");
    EXPECT_EQ(install.type, "install");
    EXPECT_TRUE(install.name.empty() && install.nick.empty() && install.server_id.empty());

    EXPECT_EQ(read_page_message(R"({"type":"Nick","nick":"Ab"})").nick, "") << "types are case-sensitive";
    EXPECT_EQ(read_page_message("{}").type, "");
}

TEST(JsonStringField, DecodesTheFirstStringOfTheName) {
    EXPECT_EQ(json_string_field(R"({"type":"nick","nick":"Ab_Cd"})", "nick"), "Ab_Cd");
    EXPECT_EQ(json_string_field(R"({"type" : "ready"})", "type"), "ready");
    // No regard to nesting: the first occurrence of the key wins.
    EXPECT_EQ(json_string_field(R"({"a":{"type":"inner"},"type":"outer"})", "type"), "inner");
    EXPECT_EQ(json_string_field(R"({"type":"x"})", "nick"), "");
    // The type's value spells the name "nick": it is no member, and the nick
    // is not the server id that follows it.
    EXPECT_EQ(json_string_field(R"({"type":"nick","serverId":"main","nick":"Ivan"})", "nick"),
              "Ivan");
    EXPECT_EQ(json_string_field(R"({"type":"nick" ,"serverId":"main"})", "nick"), "");
    EXPECT_EQ(json_string_field(R"({"nick" : "Ab_Cd"})", "nick"), "Ab_Cd") << "blanks before the colon";
    EXPECT_EQ(json_string_field("", "type"), "");
    // A value that is not a string reads as the next string of the text.
    EXPECT_EQ(json_string_field(R"({"nick":12,"serverId":"main"})", "nick"), "serverId");
    EXPECT_EQ(json_string_field(R"({"nick":true})", "nick"), "");
}

TEST(JsonStringField, Escapes) {
    auto nick = [](const std::string& value) {
        return json_string_field("{\"nick\":\"" + value + "\"}", "nick");
    };
    EXPECT_EQ(nick(R"(Ab\u0063d)"), "Abcd");
    EXPECT_EQ(nick(R"(Ab\u00e9cd)"), "Abcd") << "a code point above 127 is dropped";
    EXPECT_EQ(nick(R"(Ab\u004A)"), "AbJ") << "upper-case hex";
    EXPECT_EQ(nick(R"(a\"b\\c\/d\te\nf)"), "a\"b\\c/dte\nf");
    EXPECT_EQ(nick(R"(\u00zz!)"), std::string("\0!", 2)) << "hex stops at the first non-hex byte";
    EXPECT_EQ(nick("Привет"), "Привет") << "UTF-8 passes through";
    // Fewer than four bytes after \u: the letter u. Four or more are taken
    // as the number even when the closing quote is among them.
    EXPECT_EQ(json_string_field(R"("n":"a\u12")", "n"), "au12");
    EXPECT_EQ(json_string_field(R"({"n":"a\u12"})", "n"), "");
    // Unterminated values never count.
    EXPECT_EQ(json_string_field(R"({"nick":"Abcd)", "nick"), "");
    EXPECT_EQ(json_string_field(R"({"nick":"Ab\)", "nick"), "");
    EXPECT_EQ(json_string_field(R"({"nick":")", "nick"), "");
    EXPECT_EQ(json_string_field(R"({"nick":)", "nick"), "");
}

TEST(NickRule, FirstNameAndSurnameOrOneName) {
    for (const char* good : {"Ab", "Ab_Cd", "Ivan", "Ivan_Petrov", "abcdefghij0123456789", "A1_b2"})
        EXPECT_TRUE(is_valid_nick(good)) << good;
    for (const char* bad : {"", "A", "abcdefghij0123456789x", "Ab_C", "_Abcd", "Abcd_", "Ab_Cd_Ef",
                            "Ab-Cd", "Ab Cd", "Иван", "Ab__Cd", "Ab\tC"})
        EXPECT_FALSE(is_valid_nick(bad)) << bad;
    EXPECT_FALSE(is_valid_nick(std::string("Ab\0d", 4)));
}

}  // namespace
