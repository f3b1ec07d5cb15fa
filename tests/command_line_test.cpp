// The option table and the resolution of the game folder.
#include <gtest/gtest.h>

#include "build_config.h"
#include "launcher/core/command_line.h"
#include "launcher/session/game_dir_setting.h"
#include "launcher/session/text_convert.h"
#include "test_support.h"

namespace {

const char EXE[] = "C:\\Korval\\korval_launcher.exe";

struct Parsed {
    StartupOptions options;
    SessionState session;
};

Parsed parse(const std::wstring& arguments, const std::string& exe = EXE) {
    Parsed p;
    p.session = default_session();
    std::wstring line = L"korval_launcher.exe " + arguments;
    parse_command_line_text(line.c_str(), exe, p.options, p.session);
    return p;
}

class CommandLine : public ::testing::Test {
protected:
    // No saved folder leaks in from the prefix or out to other tests.
    SettingsKeyGuard guard;
};

TEST_F(CommandLine, DefaultsWithoutArguments) {
    Parsed p = parse(L"");
    EXPECT_EQ(p.session.server_address, KORVAL_GAME_SERVER_HOST ":7777");
    EXPECT_EQ(p.session.main_server_address, p.session.server_address);
    EXPECT_EQ(p.options.app_dir, "C:\\Korval");
    EXPECT_FALSE(p.options.dev || p.options.no_update || p.session.engineering ||
                 p.session.fake_error || p.session.no_game);
    EXPECT_EQ(p.options.updated_from, "");
    EXPECT_EQ(p.session.autotest_nick, "");
    EXPECT_EQ(p.session.game_dir, "");
    EXPECT_FALSE(p.session.installed);
}

TEST_F(CommandLine, EveryOptionSetsItsField) {
    Parsed p = parse(
        L"--server=10.0.0.1:7778 --game-dir=D:\\GTA --autotest=Ivan_Petrov --fake-error "
        L"--no-game --dev --no-update --updated-from=0.1.3");
    EXPECT_EQ(p.session.server_address, "10.0.0.1:7778");
    EXPECT_EQ(p.session.main_server_address, "10.0.0.1:7778");
    EXPECT_EQ(p.session.game_dir, "D:\\GTA");
    EXPECT_EQ(p.session.autotest_nick, "Ivan_Petrov");
    EXPECT_TRUE(p.session.fake_error);
    EXPECT_TRUE(p.session.no_game);
    EXPECT_TRUE(p.options.dev);
    EXPECT_TRUE(p.session.engineering) << "--dev turns the engineering flag on too";
    EXPECT_TRUE(p.options.no_update);
    EXPECT_EQ(p.options.updated_from, "0.1.3");
}

TEST_F(CommandLine, NearMissesAreIgnored) {
    // Prefixes without "=", flags with a tail, other letter case, single dash.
    Parsed p = parse(
        L"--server 1.2.3.4:1 --Server=1.2.3.4:2 --dev=1 --DEV --no-game2 -no-update "
        L"--fake-errors --updated-from --autotest");
    EXPECT_EQ(p.session.server_address, KORVAL_GAME_SERVER_HOST ":7777");
    EXPECT_FALSE(p.options.dev);
    EXPECT_FALSE(p.session.no_game);
    EXPECT_FALSE(p.options.no_update);
    EXPECT_FALSE(p.session.fake_error);
    EXPECT_EQ(p.options.updated_from, "");
    EXPECT_EQ(p.session.autotest_nick, "");
}

TEST_F(CommandLine, ValueIsTheWholeRestOfTheArgument) {
    // An option-looking value belongs to the option whose prefix came first.
    Parsed p = parse(L"--server=--dev \"--autotest=a b\" --updated-from==1");
    EXPECT_EQ(p.session.server_address, "--dev");
    EXPECT_FALSE(p.options.dev);
    EXPECT_EQ(p.session.autotest_nick, "a b");
    EXPECT_EQ(p.options.updated_from, "=1");
}

TEST_F(CommandLine, LaterOccurrenceWins) {
    Parsed p = parse(L"--server=1.1.1.1:1 --server=2.2.2.2:2 --game-dir=A --game-dir=B");
    EXPECT_EQ(p.session.server_address, "2.2.2.2:2");
    EXPECT_EQ(p.session.main_server_address, "2.2.2.2:2");
    EXPECT_EQ(p.session.game_dir, "B");
}

TEST_F(CommandLine, EmptyServerValueEmptiesBothAddresses) {
    Parsed p = parse(L"--server=");
    EXPECT_EQ(p.session.server_address, "");
    EXPECT_EQ(p.session.main_server_address, "");
}

TEST_F(CommandLine, ShellQuotingAndEmptyArguments) {
    Parsed p = parse(L"\"\" \"--game-dir=C:\\Program Files\\My GTA\" \"\" --dev");
    EXPECT_EQ(p.session.game_dir, "C:\\Program Files\\My GTA");
    EXPECT_TRUE(p.options.dev);
}

TEST_F(CommandLine, ArgumentsArriveInTheAnsiCodePage) {
    Parsed p = parse(L"--game-dir=D:\\Игры\\GTA --autotest=游");
    EXPECT_EQ(p.session.game_dir, utf8_to_ansi("D:\\Игры\\GTA"));
    EXPECT_EQ(p.session.autotest_nick, "?");
}

TEST_F(CommandLine, ArgumentTooLongForTheBufferIsDropped) {
    // 1023 bytes fit with the terminator; 1024 do not.
    std::wstring fits = L"--game-dir=" + std::wstring(1023 - 11, L'a');
    EXPECT_EQ(parse(fits).session.game_dir.size(), 1012u);
    std::wstring too_long = L"--game-dir=" + std::wstring(1024 - 11, L'a');
    Parsed p = parse(L"--server=1.2.3.4:5 " + too_long + L" --dev");
    EXPECT_EQ(p.session.game_dir, "") << "a cut path would point elsewhere";
    EXPECT_EQ(p.session.server_address, "1.2.3.4:5");
    EXPECT_TRUE(p.options.dev);
}

TEST_F(CommandLine, AppDirIsCutAtTheLastSeparatorOfEitherKind) {
    EXPECT_EQ(parse(L"", "C:\\a\\b/korval_launcher.exe").options.app_dir, "C:\\a\\b");
    EXPECT_EQ(parse(L"", "C:/a/b\\korval_launcher.exe").options.app_dir, "C:/a/b");
}

// Resolution order of the game folder: option, launcher's folder, saved value.
class GameDirResolution : public CommandLine {
protected:
    TempDir beside{L"beside"};
    TempDir saved{L"saved"};
    TempDir given{L"given"};

    static void make_game(const TempDir& dir) {
        ASSERT_TRUE(write_file(dir.file(L"gta_sa.exe"), "x"));
        ASSERT_TRUE(write_file(dir.file(L"samp.exe"), "x"));
    }
    std::string exe_beside() const {
        return wide_to_narrow(beside.file(L"korval_launcher.exe"), CP_ACP);
    }
    static std::string ansi(const TempDir& dir) { return wide_to_narrow(dir.path(), CP_ACP); }
};

TEST_F(GameDirResolution, GivenFolderWinsAndDecidesInstalled) {
    make_game(beside);
    write_game_dir_setting(wide_to_narrow(saved.path()));
    Parsed p = parse(L"\"--game-dir=" + given.path() + L"\"", exe_beside());
    EXPECT_EQ(p.session.game_dir, ansi(given));
    EXPECT_FALSE(p.session.installed);
    make_game(given);
    EXPECT_TRUE(parse(L"\"--game-dir=" + given.path() + L"\"", exe_beside()).session.installed);
}

TEST_F(GameDirResolution, GameBesideTheLauncherWinsOverTheSavedFolder) {
    make_game(beside);
    make_game(saved);
    ASSERT_TRUE(write_game_dir_setting(wide_to_narrow(saved.path())));
    Parsed p = parse(L"", exe_beside());
    EXPECT_EQ(p.session.game_dir, ansi(beside));
    EXPECT_TRUE(p.session.installed);
}

TEST_F(GameDirResolution, EmptyGameDirOptionCountsAsAbsent) {
    make_game(beside);
    Parsed p = parse(L"--game-dir=", exe_beside());
    EXPECT_EQ(p.session.game_dir, ansi(beside));
    EXPECT_TRUE(p.session.installed);
}

TEST_F(GameDirResolution, SavedFolderWhenTheLauncherStandsAlone) {
    ASSERT_TRUE(write_game_dir_setting(wide_to_narrow(saved.path())));
    Parsed p = parse(L"", exe_beside());
    EXPECT_EQ(p.session.game_dir, ansi(saved));
    EXPECT_FALSE(p.session.installed) << "saved but the game is not there yet";
    make_game(saved);
    EXPECT_TRUE(parse(L"", exe_beside()).session.installed);
}

TEST_F(GameDirResolution, NothingAnywhereLeavesTheFolderEmpty) {
    Parsed p = parse(L"", exe_beside());
    EXPECT_EQ(p.session.game_dir, "");
    EXPECT_FALSE(p.session.installed);
}

}  // namespace
