// The page protocol's texts: the launcher's events as the page parses them.
#include <gtest/gtest.h>

#include "launcher/session/json_writer.h"

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
                              "203.0.113.10:7778", "D:\\Игры\\KORVAL"),
              "{\"type\":\"init\",\"nick\":\"Ivan_Petrov\",\"version\":\"0.1.4\","
              "\"engineering\":false,\"installed\":true,\"servers\":["
              "{\"id\":\"main\",\"name\":\"Основной сервер\",\"address\":\"203.0.113.10:7777\"},"
              "{\"id\":\"test\",\"name\":\"Тестовый сервер\",\"address\":\"203.0.113.10:7778\"}],"
              "\"installDir\":\"D:\\\\Игры\\\\KORVAL\"}");

    InstallDirCheck check;
    check.path = "D:\\Игры\\KORVAL";
    check.free_bytes = 5368709120ull;  // beyond 32 bits
    check.error = "Недостаточно места на диске.";
    EXPECT_EQ(install_dir_event_text(check),
              "{\"type\":\"installDir\",\"path\":\"D:\\\\Игры\\\\KORVAL\",\"freeBytes\":5368709120,"
              "\"needBytes\":10000000000,\"error\":\"Недостаточно места на диске.\","
              "\"gamePresent\":false}");
    check.free_bytes = 0;
    check.error.clear();
    check.game_present = true;
    EXPECT_NE(install_dir_event_text(check).find("\"freeBytes\":0,"), std::string::npos);
    EXPECT_NE(install_dir_event_text(check).find("\"error\":\"\",\"gamePresent\":true}"),
              std::string::npos);

    EXPECT_EQ(launching_event_text(), "{\"type\":\"launching\"}");
    EXPECT_EQ(error_event_text("", "x"), "{\"type\":\"error\",\"title\":\"\",\"message\":\"x\"}");
    EXPECT_EQ(files_checked_event_text(1200, 3),
              "{\"type\":\"filesChecked\",\"filesChecked\":1200,\"filesRepaired\":3}");
    EXPECT_EQ(progress_event_text("t", "d", -5, true),
              "{\"type\":\"progress\",\"title\":\"t\",\"details\":\"d\",\"percent\":-5,"
              "\"indeterminate\":true}");
}

// The page shows a system code apart from the sentence; only a code that
// ends a sentence is one, whatever a file's name holds.
TEST(JsonWriter, AnErrorsSystemCodeIsItsLastParenthesisedNumberAtASentencesEnd) {
    EXPECT_EQ(error_event_text("Ошибка загрузки", "Файл 'a.img': обрыв соединения (12030)"),
              "{\"type\":\"error\",\"title\":\"Ошибка загрузки\",\"message\":"
              "\"Файл 'a.img': обрыв соединения (12030)\",\"code\":12030}");
    EXPECT_EQ(error_code_of("Ошибка запуска samp.exe (193)."), "193");
    EXPECT_EQ(error_code_of("Не удалось (5). Повторите."), "5");
    EXPECT_EQ(error_code_of("Файл 'data (2).img': HTTP 404"), "");
    EXPECT_EQ(error_code_of("Файл 'data (2) copy.img' (32)"), "32");
    EXPECT_EQ(error_code_of("(код) () (-5) (12345678901)"), "");
    EXPECT_EQ(error_code_of(")"), "");
}

}  // namespace
