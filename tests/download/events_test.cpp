// The texts the game files job sends to the page.
#include <gtest/gtest.h>

#include "launcher/download/download_events.h"
#include "launcher/session/json_writer.h"

namespace {

TEST(JsonQuote, EscapesOnlyQuoteBackslashAndControlBytes) {
    EXPECT_EQ(json_quote(""), "\"\"");
    EXPECT_EQ(json_quote("a\"b\\c\td"), "\"a\\\"b\\\\c\\u0009d\"");
    EXPECT_EQ(json_quote("\n\x1f\x7f/"), "\"\\u000a\\u001f\x7f/\"");
    EXPECT_EQ(json_quote(std::string("a\0b", 3)), std::string("\"a\\u0000b\""));
    EXPECT_EQ(json_quote("C:\\Игры"), "\"C:\\\\Игры\"");
}

TEST(DownloadEvents, ExactTexts) {
    EXPECT_EQ(progress_event_text("Проверка файлов", "Проверено 0 из 3", 0, false),
              "{\"type\":\"progress\",\"title\":\"Проверка файлов\",\"details\":\"Проверено 0 "
              "из 3\",\"percent\":0,\"indeterminate\":false}");
    EXPECT_EQ(progress_event_text("t", "d", -5, true),
              "{\"type\":\"progress\",\"title\":\"t\",\"details\":\"d\",\"percent\":-5,"
              "\"indeterminate\":true}");
    // The raw figures follow the members an older page knows.
    ProgressFigures figures;
    figures.phase = "download";
    figures.bytes_done = 6442450944ull;
    figures.bytes_total = 9663676416ull;
    figures.bytes_per_second = 5767168;
    figures.files_done = 2;
    figures.files_total = 3;
    EXPECT_EQ(progress_event_text("t", "d", 66, false, figures),
              "{\"type\":\"progress\",\"title\":\"t\",\"details\":\"d\",\"percent\":66,"
              "\"indeterminate\":false,\"phase\":\"download\",\"bytesDone\":6442450944,"
              "\"bytesTotal\":9663676416,\"bytesPerSecond\":5767168,\"filesDone\":2,"
              "\"filesTotal\":3}");
    EXPECT_EQ(error_event_text("Ошибка загрузки", "файл 'a\"b'"),
              "{\"type\":\"error\",\"title\":\"Ошибка загрузки\",\"message\":\"файл "
              "'a\\\"b'\"}");
}

TEST(DownloadEvents, MegabytesAreWholeMebibytes) {
    EXPECT_EQ(format_megabytes(0), "0");
    EXPECT_EQ(format_megabytes(524287), "0");
    EXPECT_EQ(format_megabytes(1048575), "1");
    EXPECT_EQ(format_megabytes(1048576ull * 2048), "2048");
    EXPECT_EQ(format_megabytes(1048576ull * 1000000 + 1), "1000000");
}

// A real game is several gigabytes: figures past 4 GiB must not wrap.
TEST(DownloadEvents, FiguresOfAGameOfSeveralGigabytes) {
    const uint64_t gib = 1ull << 30;
    EXPECT_EQ(percent_of(gib * 11 / 2, gib * 6), 91);
    EXPECT_EQ(percent_of(gib * 5, gib * 6), 83);
    EXPECT_EQ(percent_of(gib * 6 - 1, gib * 6), 99);
    EXPECT_EQ(percent_of(gib * 6, gib * 6), 100);
    EXPECT_EQ(percent_of(0, gib * 6), 0);
    EXPECT_EQ(percent_of(0, 0), 100);
    EXPECT_EQ(download_details_text(2, 3, gib * 11 / 2, gib * 6, 5.56),
              "Файл 2 из 3 · 5632 из 6144 МБ · 5.6 МБ/с");
    EXPECT_EQ(download_details_text(1, 1, 0, gib * 9 + 1048576 * 512, 0.0),
              "Файл 1 из 1 · 0 из 9728 МБ · 0.0 МБ/с");
}

TEST(DownloadEvents, FailedPostReportsFailure) {
    // The text of a post that cannot be delivered is freed by the poster;
    // here only the result is visible.
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(post_page_event(window, "{}"));
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, window, 0, 0, PM_REMOVE));
    EXPECT_STREQ(reinterpret_cast<char*>(msg.lParam), "{}");
    delete[] reinterpret_cast<char*>(msg.lParam);
    DestroyWindow(window);
    EXPECT_FALSE(post_page_event(window, "{}"));
}

}  // namespace
