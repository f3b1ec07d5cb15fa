// The page protocol's texts: the launcher's events as the page parses them,
// and the reading of the page's messages.
#include <gtest/gtest.h>

#include "launcher/session/json_writer.h"
#include "launcher/session/page_dispatcher.h"

namespace {

TEST(JsonWriter, QuotesOnlyWhatJsonNeeds) {
    EXPECT_EQ(json_quote(""), "\"\"");
    EXPECT_EQ(json_quote("a\"b\\c\td"), "\"a\\\"b\\\\c\\u0009d\"");
    EXPECT_EQ(json_quote(std::string("\x1f\x7f/\n", 4)), "\"\\u001f\x7f/\\u000a\"");
    // UTF-8 passes through whole, unescaped.
    EXPECT_EQ(json_quote("D:\\Игры"), "\"D:\\\\Игры\"");
    // A zero byte inside a text is a control byte like any other.
    EXPECT_EQ(json_quote(std::string("a\0b", 3)), "\"a\\u0000b\"");
}

TEST(JsonWriter, EventsHaveTheirMembersInTheProtocolsOrder) {
    EXPECT_EQ(init_event_text("Ivan_Petrov", "0.1.4", false, true, "203.0.113.10:7777",
                              "203.0.113.10:7778"),
              "{\"type\":\"init\",\"nick\":\"Ivan_Petrov\",\"version\":\"0.1.4\","
              "\"engineering\":false,\"installed\":true,\"servers\":["
              "{\"id\":\"main\",\"name\":\"Основной сервер\",\"address\":\"203.0.113.10:7777\"},"
              "{\"id\":\"test\",\"name\":\"Тестовый сервер\",\"address\":\"203.0.113.10:7778\"}]}");

    InstallDirCheck check;
    check.path = "D:\\Игры\\KORVAL";
    check.free_bytes = 5368709120ull;  // beyond 32 bits
    check.error = "Недостаточно места на диске.";
    EXPECT_EQ(install_dir_event_text(check),
              "{\"type\":\"installDir\",\"path\":\"D:\\\\Игры\\\\KORVAL\",\"freeBytes\":5368709120,"
              "\"needBytes\":10000000000,\"error\":\"Недостаточно места на диске.\"}");
    check.free_bytes = 0;
    check.error.clear();
    EXPECT_NE(install_dir_event_text(check).find("\"freeBytes\":0,"), std::string::npos);
    EXPECT_NE(install_dir_event_text(check).find("\"error\":\"\"}"), std::string::npos);

    EXPECT_EQ(launching_event_text(), "{\"type\":\"launching\"}");
    EXPECT_EQ(error_event_text("", "x"), "{\"type\":\"error\",\"title\":\"\",\"message\":\"x\"}");
    EXPECT_EQ(progress_event_text("t", "d", -5, true),
              "{\"type\":\"progress\",\"title\":\"t\",\"details\":\"d\",\"percent\":-5,"
              "\"indeterminate\":true}");
}

TEST(JsonStringField, DecodesTheFirstStringOfTheName) {
    EXPECT_EQ(json_string_field(R"({"type":"nick","nick":"Ab_Cd"})", "nick"), "Ab_Cd");
    EXPECT_EQ(json_string_field(R"({"type" : "ready"})", "type"), "ready");
    // No regard to nesting: the first occurrence of the key wins.
    EXPECT_EQ(json_string_field(R"({"a":{"type":"inner"},"type":"outer"})", "type"), "inner");
    EXPECT_EQ(json_string_field(R"({"type":"x"})", "nick"), "");
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
