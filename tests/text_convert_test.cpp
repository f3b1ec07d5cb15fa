// Text conversions at the encoding borders, and the saved game folder.
#include <gtest/gtest.h>

#include "launcher/session/game_dir_setting.h"
#include "launcher/session/text_convert.h"
#include "test_support.h"

namespace {

const char CYRILLIC_UTF8[] = "C:\\Игры\\Корвал — сервер";

TEST(TextConvert, RoundTripsThroughEveryEncoding) {
    ASSERT_EQ(GetACP(), 1251u) << "tests run with the players' code page";
    std::wstring wide = utf8_to_wide(CYRILLIC_UTF8);
    EXPECT_EQ(wide, L"C:\\Игры\\Корвал — сервер");
    EXPECT_EQ(wide_to_narrow(wide, CP_UTF8), CYRILLIC_UTF8);

    std::string ansi = utf8_to_ansi(CYRILLIC_UTF8);
    EXPECT_EQ(ansi.size(), wide.size()) << "one byte a character in 1251";
    EXPECT_EQ(static_cast<unsigned char>(ansi[3]), 0xC8) << "И in 1251";
    EXPECT_EQ(ansi_to_utf8(ansi), CYRILLIC_UTF8);
    EXPECT_EQ(utf8_to_wide(ansi, CP_ACP), wide);

    // Outside the basic plane: a surrogate pair survives UTF-8 <-> UTF-16.
    const char emoji[] = "\xF0\x9F\x8E\xAE";
    EXPECT_EQ(utf8_to_wide(emoji).size(), 2u);
    EXPECT_EQ(wide_to_narrow(utf8_to_wide(emoji)), emoji);
}

TEST(TextConvert, EmptyStaysEmptyInEveryDirection) {
    EXPECT_EQ(utf8_to_wide(""), L"");
    EXPECT_EQ(utf8_to_wide("", CP_ACP), L"");
    EXPECT_EQ(wide_to_narrow(L""), "");
    EXPECT_EQ(wide_to_narrow(L"", CP_ACP), "");
    EXPECT_EQ(utf8_to_ansi(""), "");
    EXPECT_EQ(ansi_to_utf8(""), "");
}

TEST(TextConvert, LettersTheCodePageLacksBecomeItsDefaultCharacter) {
    // Chinese and Greek letters have no place in 1251.
    EXPECT_EQ(utf8_to_ansi("D:\\游戏\\λ"), "D:\\??\\?");
    EXPECT_EQ(wide_to_narrow(L"a\u6E38b", CP_ACP), "a?b");
}

TEST(TextConvert, TextEndsAtItsFirstZero) {
    std::string with_zero("abc\0def", 7);
    EXPECT_EQ(utf8_to_wide(with_zero), L"abc");
    EXPECT_EQ(utf8_to_ansi(with_zero), "abc");
}

// The log holds UTF-8 (the launcher's own words) and the ANSI code page (the
// system's error texts, paths) side by side; the player's copy is UTF-8 alone.
TEST(TextConvert, MixedTextKeepsItsUtf8AndReadsTheRestInTheCodePage) {
    ASSERT_EQ(GetACP(), 1251u) << "tests run with the players' code page";
    const std::string utf8_line = "!! download: Ошибка загрузки… \xF0\x9F\x8E\xAE\r\n";
    EXPECT_EQ(mixed_text_to_utf8(utf8_line), utf8_line);
    EXPECT_EQ(mixed_text_to_utf8(utf8_to_ansi("update: нет доступа к C:\\Игры\r\n")),
              "update: нет доступа к C:\\Игры\r\n");
    // The dash is the launcher's, the text after it the system's.
    EXPECT_EQ(mixed_text_to_utf8("install: dir 'K:\\' free 20 MB — " +
                                 utf8_to_ansi("Недостаточно места на диске.") + "\r\nnext\r\n"),
              "install: dir 'K:\\' free 20 MB — Недостаточно места на диске.\r\nnext\r\n");

    // What is no UTF-8 after all is the code page's letters, byte by byte: a
    // dash cut short, a lead byte at a line's end, overlong forms of "/", an
    // encoded surrogate and a code point past U+10FFFF.
    EXPECT_EQ(mixed_text_to_utf8("a\xE2\x80z"), "aвЂz");
    EXPECT_EQ(mixed_text_to_utf8("\xD0\r\n\xD0"), "Р\r\nР");
    EXPECT_EQ(mixed_text_to_utf8("\xC0\xAF|\xE0\x80\xAF"), "АЇ|аЂЇ");
    EXPECT_EQ(mixed_text_to_utf8("\xED\xA0\x80"), "н\u00A0Ђ");
    EXPECT_EQ(mixed_text_to_utf8("\xF4\x90\x80\x80"), "фђЂЂ");
    EXPECT_EQ(mixed_text_to_utf8(""), "");
}

TEST(GamePresent, NeedsBothExecutables) {
    TempDir dir(L"game");
    EXPECT_FALSE(game_present(dir.path()));
    ASSERT_TRUE(write_file(dir.file(L"gta_sa.exe"), "x"));
    EXPECT_FALSE(game_present(dir.path())) << "gta_sa.exe alone is no game folder";
    // Any kind of entry counts, even a folder named like the client.
    ASSERT_TRUE(CreateDirectoryW(dir.file(L"samp.exe").c_str(), nullptr));
    EXPECT_TRUE(game_present(dir.path()));
    EXPECT_TRUE(game_present_ansi(wide_to_narrow(dir.path(), CP_ACP)));

    EXPECT_FALSE(game_present(L""));
    EXPECT_FALSE(game_present_ansi(""));
}

TEST(GamePresent, FindsTheGameInACyrillicFolder) {
    TempDir dir(L"Игра");
    ASSERT_TRUE(write_file(dir.file(L"gta_sa.exe"), "x"));
    ASSERT_TRUE(write_file(dir.file(L"samp.exe"), "x"));
    EXPECT_TRUE(game_present_ansi(wide_to_narrow(dir.path(), CP_ACP)));
}

class GameDirSetting : public ::testing::Test {
protected:
    SettingsKeyGuard guard;

    static void set_raw(DWORD type, const void* data, DWORD bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\KORVAL", 0, nullptr, 0,
                                  KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"GameDir", 0, type, static_cast<const BYTE*>(data), bytes);
        RegCloseKey(key);
    }
};

TEST_F(GameDirSetting, MissingKeyOrValueReadsEmpty) {
    EXPECT_EQ(read_game_dir_setting(), "");
    set_raw(REG_SZ, L"x", 4);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\KORVAL", L"GameDir");
    EXPECT_EQ(read_game_dir_setting(), "");
}

TEST_F(GameDirSetting, RoundTripsACyrillicFolder) {
    ASSERT_TRUE(write_game_dir_setting(CYRILLIC_UTF8));
    EXPECT_EQ(read_game_dir_setting(), utf8_to_ansi(CYRILLIC_UTF8));

    // Stored as UTF-16 with its terminating zero.
    wchar_t raw[64] = {};
    DWORD size = sizeof raw, type = 0;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\KORVAL", L"GameDir", RRF_RT_ANY, &type,
                           raw, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, (wcslen(L"C:\\Игры\\Корвал — сервер") + 1) * 2);
}

TEST_F(GameDirSetting, LettersOutsideTheCodePageReadBackAsDefaultCharacter) {
    ASSERT_TRUE(write_game_dir_setting("D:\\游戏"));
    EXPECT_EQ(read_game_dir_setting(), "D:\\??");
}

TEST_F(GameDirSetting, ValueLongerThan518BytesReadsEmpty) {
    // 258 characters and the zero fill 518 bytes exactly; one more is too long.
    std::string fits = "C:\\" + std::string(255, 'a');
    ASSERT_TRUE(write_game_dir_setting(fits));
    EXPECT_EQ(read_game_dir_setting(), fits);
    ASSERT_TRUE(write_game_dir_setting(fits + "b"));
    EXPECT_EQ(read_game_dir_setting(), "");
}

TEST_F(GameDirSetting, OnlyStringTypeIsAccepted) {
    const wchar_t text[] = L"C:\\Games";
    set_raw(REG_EXPAND_SZ, text, sizeof text);
    EXPECT_EQ(read_game_dir_setting(), "");
    DWORD number = 7;
    set_raw(REG_DWORD, &number, sizeof number);
    EXPECT_EQ(read_game_dir_setting(), "");
}

TEST_F(GameDirSetting, ValueStoredWithoutTerminatorStillEndsCleanly) {
    // Data with no zero after it: the reader must end the text itself.
    std::wstring text = L"C:\\" + std::wstring(100, L'z');
    set_raw(REG_SZ, text.data(), static_cast<DWORD>(text.size() * 2));
    EXPECT_EQ(read_game_dir_setting(), wide_to_narrow(text, CP_ACP));
}

}  // namespace
