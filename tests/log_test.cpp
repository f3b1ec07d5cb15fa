// The log file and the formatter behind it.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "launcher/core/log.h"
#include "launcher/core/text_format.h"
#include "launcher/session/text_convert.h"
#include "test_support.h"

namespace {

std::vector<std::string> crlf_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "every line ends with CR LF";
    return lines;
}

std::string message_of(const std::string& line) {
    static const std::regex prefix(R"(^([01]\d|2[0-3]):[0-5]\d:[0-5]\d\.\d{3} )");
    EXPECT_TRUE(std::regex_search(line, prefix)) << line.substr(0, 40);
    return line.size() >= 13 ? line.substr(13) : std::string();
}

class LogFile : public ::testing::Test {
protected:
    TempDir dir{L"log"};
    std::wstring path = dir.file(L"korval_launcher.log");
    std::string path_ansi = wide_to_narrow(path, CP_ACP);

    void TearDown() override { log_close(); }
    std::vector<std::string> messages() {
        std::vector<std::string> out;
        for (const std::string& line : crlf_lines(read_file(path))) out.push_back(message_of(line));
        return out;
    }
};

TEST_F(LogFile, EachCallIsOneTimeStampedLine) {
    log_open(path_ansi, false);
    ASSERT_TRUE(log_is_open());
    log_line("update: cannot write %ls (%lu)", L"C:\\Игры\\a.exe.new", 5ul);
    log_line("exit");
    // Flushed at once: readable before the log is closed.
    EXPECT_EQ(messages(), (std::vector<std::string>{
                              "update: cannot write " + utf8_to_ansi("C:\\Игры\\a.exe.new") +
                                  " (5)",
                              "exit"}));
}

TEST_F(LogFile, OrdinaryStartTruncatesAndUpdatedStartAppends) {
    ASSERT_TRUE(write_file(path, "old run\r\n"));
    log_open(path_ansi, true);
    log_line("second");
    log_close();
    std::vector<std::string> lines = crlf_lines(read_file(path));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "old run");
    EXPECT_EQ(message_of(lines[1]), "second");

    log_open(path_ansi, false);
    log_line("third");
    log_close();
    EXPECT_EQ(messages(), std::vector<std::string>{"third"});
}

TEST_F(LogFile, BoundedLineIsCutAt2047Bytes) {
    std::string long_text(3000, 'x');
    long_text[2046] = 'A';
    long_text[2047] = 'B';
    log_open(path_ansi, false);
    log_line_bounded("%s", long_text.c_str());
    log_line("%s", long_text.c_str());
    std::vector<std::string> m = messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].size(), 2047u);
    EXPECT_EQ(m[0].back(), 'A');
    EXPECT_EQ(m[1], long_text) << "the unbounded line is written whole";
}

TEST_F(LogFile, NoOpenLogMeansNoEffect) {
    log_close();
    EXPECT_FALSE(log_is_open());
    log_line("nothing %s", "here");
    log_line_bounded("nothing %d", 1);
    EXPECT_FALSE(file_exists(path));

    // A log that cannot be opened (its folder does not exist) is no error.
    log_open(wide_to_narrow(dir.file(L"missing\\korval_launcher.log"), CP_ACP), false);
    EXPECT_FALSE(log_is_open());
    log_line("still nothing");
}

TEST_F(LogFile, LinesFromManyThreadsNeverMix) {
    log_open(path_ansi, false);
    const int threads = 6, lines_each = 300;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([t] {
            // Long lines make a torn write far more likely to show.
            std::string body(200 + t * 37, static_cast<char>('a' + t));
            for (int i = 0; i < lines_each; ++i) {
                if (i % 2) log_line("t%d %04d %s", t, i, body.c_str());
                else log_line_bounded("t%d %04d %s", t, i, body.c_str());
            }
        });
    for (std::thread& th : pool) th.join();

    std::set<std::string> seen;
    for (const std::string& m : messages()) {
        int t = m[1] - '0';
        ASSERT_TRUE(t >= 0 && t < threads) << m.substr(0, 20);
        std::string body(200 + t * 37, static_cast<char>('a' + t));
        ASSERT_EQ(m.substr(8), body) << "torn line: " << m.substr(0, 20);
        seen.insert(m.substr(0, 7));
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(threads * lines_each));
}

TEST(TextFormat, ConversionsTheLauncherUses) {
    EXPECT_EQ(format_text("%02d:%02d:%02d.%03d", 7, 5, 9, 42), "07:05:09.042");
    EXPECT_EQ(format_text("%u %lu %llu", 4000000000u, 4294967295ul, 18446744073709551615ull),
              "4000000000 4294967295 18446744073709551615");
    EXPECT_EQ(format_text("%d %d", -1, 2147483647), "-1 2147483647");
    EXPECT_EQ(format_text("100%% %s", "done"), "100% done");
    EXPECT_EQ(format_text("[%5s|%-5s|%.2s]", "ab", "cd", "efgh"), "[   ab|cd   |ef]");
    EXPECT_EQ(format_text("%x %X %c", 255u, 255u, 'z'), "ff FF z");
    EXPECT_EQ(format_text("%s|%ls", static_cast<const char*>(nullptr),
                          static_cast<const wchar_t*>(nullptr)),
              "(null)|(null)");
}

TEST(TextFormat, WideStringsGoThroughTheAnsiCodePage) {
    EXPECT_EQ(format_text("%ls", L"Корвал"), utf8_to_ansi("Корвал"));
    EXPECT_EQ(format_text("%ls", L"\u6E38"), "?");
    EXPECT_EQ(format_text("%ls", L""), "");
}

// Without the compiler's format check, as a format from elsewhere would come.
std::string unchecked(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = format_text_v(format, args);
    va_end(args);
    return out;
}

TEST(TextFormat, EveryArgumentIsTakenAtItsOwnSize) {
    // A double between two integers: the integer after it must still be read
    // from its own place.
    EXPECT_EQ(format_text("%d %.2f %d|%g|%e", 1, 2.5, 3, 0.25, 1e10), "1 2.50 3|0.25|1.000000e+10");
    EXPECT_EQ(format_text("%zu %zd %td %jd", size_t(4000000000u), ptrdiff_t(-2), ptrdiff_t(-3),
                          intmax_t(-4)),
              "4000000000 -2 -3 -4");
    EXPECT_EQ(format_text("%lld %o %ld|%s", -9000000000ll, 8u, -5l, "end"),
              "-9000000000 10 -5|end");
    EXPECT_EQ(unchecked("%I64u %I64d %I32u %s", 18446744073709551615ull, -7ll, 5u, "end"),
              "18446744073709551615 -7 5 end");
    EXPECT_EQ(unchecked("%Iu|%s", size_t(12), "end"), "12|end");
}

TEST(TextFormat, AnUnknownConversionStopsTheReadingOfArguments) {
    // Reading on would take "%s" from the bytes of the wrong argument.
    EXPECT_EQ(unchecked("a %d %y %s %d", 1, "never read", 2), "a 1 %y %s %d");
    int written = 0;
    EXPECT_EQ(unchecked("%n|%s", &written, "x"), "%n|%s");
    EXPECT_EQ(written, 0);
    EXPECT_EQ(unchecked("tail %"), "tail %");
}

TEST(TextFormat, LongArgumentsAreNotCut) {
    std::string big(100000, 'q');
    EXPECT_EQ(format_text("<%s>", big.c_str()), "<" + big + ">");
}

}  // namespace
