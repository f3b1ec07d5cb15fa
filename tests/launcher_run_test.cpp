// korval_launcher.exe as a user meets it: its window, the browser runtime's
// stand-in playing the page, the whole road from start to the game, and the
// message when the browser runtime is missing.
#include <gtest/gtest.h>

#include <vector>

#include "content_server_support.h"
#include "blocks/block_description.h"
#include "download/job_harness.h"
#include "launcher/core/win_handles.h"
#include "launcher/session/text_convert.h"
#include "test_support.h"

namespace {

// A launcher started without waiting for it, as the user starts it.
class RunningLauncher {
public:
    RunningLauncher(const std::wstring& exe, const std::wstring& arguments)
        : process_(start_process(exe, arguments, &id_)) {}
    ~RunningLauncher() {
        if (process_.valid() && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.get(), 99);
    }
    bool started() const { return process_.valid(); }
    HANDLE handle() const { return process_.get(); }
    // The first shown top-level window of the process with that class, waiting
    // up to 20 s. Shown: a dialog gets its texts before it is shown.
    HWND window(const wchar_t* class_name) const {
        for (int i = 0; i < 400; ++i) {
            HWND found = nullptr;
            while ((found = FindWindowExW(nullptr, found, class_name, nullptr))) {
                DWORD owner = 0;
                GetWindowThreadProcessId(found, &owner);
                if (owner == id_ && IsWindowVisible(found)) return found;
            }
            if (WaitForSingleObject(process_.get(), 50) != WAIT_TIMEOUT) return nullptr;
        }
        return nullptr;
    }
    // The exit code, or -1 when it did not end in time.
    int wait(DWORD timeout_ms = 60000) const {
        if (WaitForSingleObject(process_.get(), timeout_ms) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        return static_cast<int>(code);
    }

private:
    DWORD id_ = 0;  // before process_: its start fills this in
    UniqueHandle process_;
};

std::wstring text_of(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

BOOL CALLBACK collect_child_text(HWND child, LPARAM out) {
    *reinterpret_cast<std::wstring*>(out) += text_of(child) + L"\n";
    return TRUE;
}

// The page of a first start (the nick from --autotest, the folder as
// proposed), and of a later one, which goes straight to the job.
const char FIRST_START[] = "console __launcher__:{\"type\":\"ready\"}\n"
                           "await installDir\n"
                           "console __launcher__:{\"type\":\"install\"}\n"
                           "await launching\n";
const char LATER_START[] = "console __launcher__:{\"type\":\"ready\"}\n"
                           "await launching\n";

class LauncherRun : public ::testing::Test {
protected:
    TempDir dir{L"Лаунчер run"};
    TempDir games{L"Игры run"};
    std::wstring exe = dir.file(L"korval_launcher.exe");
    std::wstring game_dir = games.file(L"KORVAL");
    SettingsKeyGuard settings;

    void SetUp() override {
        ASSERT_TRUE(CopyFileW((exe_dir() + L"\\korval_launcher.exe").c_str(), exe.c_str(), FALSE));
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\SAMP");
        clear_server_requests();
        clear_server_faults();
    }
    void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\SAMP"); }
    std::string log_text() const { return read_file(dir.file(L"korval_launcher.log")); }
    std::wstring game_arg() const { return L"\"--game-dir=" + game_dir + L"\""; }
};

TEST_F(LauncherRun, FromTheFirstStartToTheGame) {
    const std::string samp = read_file(exe_dir() + L"\\samp_stub\\samp.exe");
    ASSERT_FALSE(samp.empty());
    publish_game({{"samp.exe", samp},
                  {"gta_sa.exe", pattern_bytes(70000, 1)},
                  {"models/gta3.img", pattern_bytes(3 << 20, 2)},
                  {"data/default.dat", ""}});
    ASSERT_TRUE(install_stub_runtime(dir.path(), FIRST_START));
    // The page has the nick from --autotest; the launcher closes itself
    // after the game's start.
    ASSERT_EQ(run_process(exe, L"--no-update --autotest=Ivan_Petrov " + game_arg(), 90000), 0);

    EXPECT_EQ(read_file(game_dir + L"\\models\\gta3.img"), pattern_bytes(3 << 20, 2));
    EXPECT_TRUE(file_exists(game_dir + L"\\data\\default.dat"));
    std::wstring record = game_dir + L"\\samp_record.txt";
    for (int i = 0; i < 100 && !file_exists(record); ++i) Sleep(50);
    Sleep(100);
    const std::string game_ansi = wide_to_narrow(game_dir, CP_ACP);
    const std::string started = read_file(record);
    EXPECT_TRUE(contains(started, "command_line\t\"" + game_ansi + "\\samp.exe\" 203.0.113.10:7777\r\n"))
        << started;
    EXPECT_TRUE(contains(started, "PlayerName\tIvan_Petrov\r\n")) << started;

    const std::string log = log_text();
    for (const std::string& line : std::vector<std::string>{
             "page ready, saved nick ''", "nick Ivan_Petrov, server 203.0.113.10:7777",
          "install: game dir set to '" + game_ansi + "'",
          "game: started \"" + game_ansi + "\\samp.exe\" 203.0.113.10:7777 as Ivan_Petrov",
          "exit\r\n"})
        EXPECT_TRUE(contains(log, line)) << line << "\n" << log;
    EXPECT_EQ(requests_for("/pc/launcher/latest.json"), 0) << "--no-update asks nothing";
}

TEST_F(LauncherRun, WithTheGamePresentAndNoGameTheRoadNeedsOnlyReady) {
    ASSERT_TRUE(CreateDirectoryW(game_dir.c_str(), nullptr));
    const std::vector<GameFile> files = {{"samp.exe", "MZ samp"}, {"gta_sa.exe", "MZ gta"}};
    for (const GameFile& file : files)
        ASSERT_TRUE(write_file(game_dir + L"\\" + utf8_to_wide(file.path), file.content));
    publish_game(files);
    ASSERT_TRUE(install_stub_runtime(dir.path(), LATER_START));
    ASSERT_EQ(run_process(exe, L"--no-update --no-game --autotest=Ivan_Petrov " + game_arg(), 60000),
              0);
    const std::string log = log_text();
    EXPECT_FALSE(contains(log, "install: dir")) << "no folder to choose: " << log;
    EXPECT_TRUE(contains(log, "game: --no-game, would run ")) << log;
    EXPECT_EQ(requests_for(std::string(GAME_BASE_PATH) + "/samp.exe"), 0) << "nothing downloaded";
    EXPECT_EQ(requests_for("/pc/manifest.json"), 1);
    EXPECT_EQ(read_file(game_dir + L"\\samp.exe"), "MZ samp");
    EXPECT_FALSE(file_exists(game_dir + L"\\samp_record.txt"));
    EXPECT_TRUE(contains(log, "exit\r\n"));
}

TEST_F(LauncherRun, ClosingDuringADownloadStopsItAndTheNextStartResumes) {
    const std::string big = pattern_bytes(4 << 20, 7);
    publish_game({{"samp.exe", "MZ"}, {"gta_sa.exe", "MZ"}, {"models/big.img", big}});
    const std::string big_path = std::string(GAME_BASE_PATH) + "/models/big.img";
    set_server_faults("{\"" + big_path + "\": {\"trickle\": [65536, 100], \"times\": 1}}");
    ASSERT_TRUE(install_stub_runtime(dir.path(), "console __launcher__:{\"type\":\"ready\"}\n"
                                                 "await installDir\n"
                                                 "console __launcher__:{\"type\":\"install\"}\n"
                                                 "wait 1500\n"
                                                 "close\n"));
    ASSERT_EQ(run_process(exe, L"--no-update --no-game --autotest=Ivan_Petrov " + game_arg(), 60000),
              0);
    const std::wstring part = game_dir + L"\\models\\big.img.part";
    ASSERT_TRUE(file_exists(part)) << log_text();
    const size_t kept = read_file(part).size();
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, big.size());
    EXPECT_FALSE(file_exists(game_dir + L"\\models\\big.img"));
    std::string log = log_text();
    EXPECT_EQ(log.substr(log.size() - 6), "exit\r\n") << log;

    // The folder is saved and the game is not there yet: the next start
    // goes straight to the job, which asks only for the rest.
    clear_server_requests();
    ASSERT_TRUE(install_stub_runtime(dir.path(), LATER_START));
    ASSERT_EQ(run_process(exe, L"--no-update --no-game --autotest=Ivan_Petrov", 60000), 0);
    EXPECT_EQ(read_file(game_dir + L"\\models\\big.img"), big) << log_text();
    bool resumed = false;
    for (const SeenRequest& r : seen_requests())
        if (r.path == big_path && r.range.rfind("bytes=", 0) == 0 && r.range != "bytes=0-")
            resumed = true;
    EXPECT_TRUE(resumed) << "the partial file was continued";
}

TEST_F(LauncherRun, TheWindowIsFixedSizeCentredInTheWorkAreaAndClosesOnRequest) {
    ASSERT_TRUE(install_stub_runtime(dir.path(), "await_for 30000 never\n"));
    RunningLauncher launcher(exe, L"--no-update " + game_arg());
    ASSERT_TRUE(launcher.started());
    HWND window = launcher.window(L"KorvalLauncher");
    ASSERT_NE(window, nullptr) << log_text();
    EXPECT_EQ(text_of(window), L"KORVAL");
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(style & 0x02CF0000, 0x02CA0000) << std::hex << style << ": no sizing, no maximise";
    EXPECT_TRUE(IsWindowVisible(window));

    // 96 DPI under Wine: the page's own size, centred in the work area.
    RECT client{}, outer{}, work{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right - client.left, 1280);
    EXPECT_EQ(client.bottom - client.top, 591);
    RECT expected{0, 0, 1280, 591};
    AdjustWindowRect(&expected, 0x02CA0000, FALSE);
    GetWindowRect(window, &outer);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int width = expected.right - expected.left, height = expected.bottom - expected.top;
    EXPECT_EQ(outer.left, work.left + (work.right - work.left - width) / 2);
    EXPECT_EQ(outer.top, work.top + (work.bottom - work.top - height) / 2);

    // The close box: the browser goes first, then the window, then the process.
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(launcher.wait(), 0);
    const std::string log = log_text();
    EXPECT_EQ(log.substr(log.size() - 6), "exit\r\n") << log;
}

TEST_F(LauncherRun, WithoutTheBrowserRuntimeAMessageSaysWhereItShouldBe) {
    // No cef folder at all beside the launcher.
    RunningLauncher launcher(exe, L"--no-update " + game_arg());
    ASSERT_TRUE(launcher.started());
    HWND box = launcher.window(L"#32770");
    ASSERT_NE(box, nullptr) << log_text();
    EXPECT_EQ(text_of(box), L"KORVAL");
    std::wstring texts;
    EnumChildWindows(box, collect_child_text, reinterpret_cast<LPARAM>(&texts));
    EXPECT_NE(texts.find(L"Не удалось запустить встроенный браузер (папка cef рядом с лаунчером)."),
              std::wstring::npos)
        << wide_to_narrow(texts);
    EXPECT_EQ(FindWindowW(L"KorvalLauncher", nullptr), nullptr) << "no window behind the message";

    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(launcher.wait(), 1);
    EXPECT_TRUE(contains(log_text(), "!! LoadLibrary(")) << log_text();
    EXPECT_FALSE(contains(log_text(), "exit\r\n")) << "no shutdown of a runtime never started";
}

TEST_F(LauncherRun, ARuntimeThatFailsToStartGetsTheSameMessage) {
    ASSERT_TRUE(install_stub_runtime(dir.path(), "initialize fail\n"));
    RunningLauncher launcher(exe, L"--no-update " + game_arg());
    HWND box = launcher.window(L"#32770");
    ASSERT_NE(box, nullptr) << log_text();
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(launcher.wait(), 1);
    EXPECT_TRUE(contains(log_text(), "!! cef_initialize failed")) << log_text();
}

}  // namespace

namespace {

// The player's worst habit: the launcher killed at any moment of an install
// (hash pass, transfers, moves, index saves), then started again. No final
// file may ever be wrong, and the last run completes the game.
TEST_F(LauncherRun, KilledAtRandomMomentsTheInstallNeverLeavesAWrongFile) {
    std::vector<GameFile> files = {{"samp.exe", "MZ samp"}, {"gta_sa.exe", "MZ gta"}};
    for (int i = 0; i < 24; ++i)
        files.push_back({"models/pack" + std::to_string(i) + ".img",
                         pattern_bytes(60000 + i * 7919, 100 + i)});
    files.push_back({"audio/big.dat", pattern_bytes(3 << 20, 99)});
    publish_game(files);
    // Slow transfers, so that kills land inside them as well as between.
    std::string faults = "{";
    for (int i = 0; i < 24; i += 3)
        faults += std::string(faults.size() > 1 ? "," : "") + "\"" + GAME_BASE_PATH +
                  "/models/pack" + std::to_string(i) + ".img\": {\"trickle\": [16384, 40]}";
    faults += std::string(",\"") + GAME_BASE_PATH + "/audio/big.dat\": {\"trickle\": [262144, 60]}}";
    set_server_faults(faults);
    ASSERT_TRUE(install_stub_runtime(dir.path(), "console __launcher__:{\"type\":\"ready\"}\n"
                                                 "await_for 3000 installDir\n"
                                                 "console __launcher__:{\"type\":\"install\"}\n"
                                                 "await launching\n"));
    const std::wstring args = L"--no-update --no-game --autotest=Ivan_Petrov " + game_arg();

    auto check_final_files = [&](int round) {
        for (const GameFile& file : files) {
            std::wstring local = game_dir + L"\\" + utf8_to_wide(file.path);
            for (wchar_t& c : local)
                if (c == L'/') c = L'\\';
            if (!file_exists(local)) continue;
            ASSERT_EQ(read_file(local), file.content) << file.path << " after kill " << round;
        }
    };

    unsigned seed = 20261208;
    int kills = 0;
    for (int round = 0; round < 22; ++round) {
        seed = seed * 1103515245u + 12345u;
        const DWORD delay = 150 + (seed >> 8) % 1800;
        RunningLauncher launcher(exe, args);
        ASSERT_TRUE(launcher.started());
        if (launcher.wait(delay) == -1) {
            ++kills;
            // What a crash or the task manager does: no close, no clean-up.
            TerminateProcess(launcher.handle(), 9);
            launcher.wait();
        }
        check_final_files(round);
        // The lock of a killed process goes with it; the next start may run.
    }
    EXPECT_GE(kills, 15) << "most rounds must be cut short to mean anything";

    clear_server_faults();
    ASSERT_EQ(run_process(exe, args, 90000), 0) << log_text();
    for (const GameFile& file : files) {
        std::wstring local = game_dir + L"\\" + utf8_to_wide(file.path);
        for (wchar_t& c : local)
            if (c == L'/') c = L'\\';
        EXPECT_EQ(read_file(local), file.content) << file.path;
        EXPECT_FALSE(file_exists(local + L".part")) << file.path;
    }
    EXPECT_TRUE(contains(log_text(), "game: --no-game, would run ")) << log_text();
}

// Killed while a changed archive is built from the installed one and its
// changed blocks: the installed file stays as it was, the partial holds only
// the new file's first bytes, and the next start finishes it right.
TEST_F(LauncherRun, KilledDuringABlockUpdateTheOldFileStaysUntilTheNewOneIsRight) {
    const std::string img = "models/gta3.img";
    const std::string old_img = pattern_bytes(3 << 20, 31);
    std::vector<GameFile> files = {{"samp.exe", "MZ samp"}, {"gta_sa.exe", "MZ gta"},
                                   {img, old_img}};
    publish_game(files);
    ASSERT_TRUE(install_stub_runtime(dir.path(), FIRST_START));
    const std::wstring args = L"--no-update --no-game --autotest=Ivan_Petrov " + game_arg();
    ASSERT_EQ(run_process(exe, args, 90000), 0) << log_text();

    // The second megabyte changes; its range arrives slowly.
    std::string new_img = old_img;
    new_img.replace(1 << 20, 1 << 20, pattern_bytes(1 << 20, 32));
    files.back().content = new_img;
    publish_game(files);
    const std::string served = std::string(GAME_BASE_PATH) + "/" + img;
    const std::string blocks = describe_blocks(new_img);
    ASSERT_TRUE(put_server_file(served + ".blocks", blocks));
    ASSERT_TRUE(put_server_file("/pc/manifest.json", described_manifest(files, img, blocks)));
    set_server_faults("{\"" + served + "\": {\"trickle\": [16384, 50]}}");
    clear_server_requests();
    ASSERT_TRUE(install_stub_runtime(dir.path(), LATER_START));
    {
        RunningLauncher launcher(exe, args);
        ASSERT_TRUE(launcher.started());
        for (int i = 0; i < 600 && requests_for(served) == 0; ++i) Sleep(50);
        ASSERT_GT(requests_for(served), 0) << log_text();
        Sleep(500);
        TerminateProcess(launcher.handle(), 9);
        launcher.wait();
    }
    const std::wstring local = game_dir + L"\\models\\gta3.img";
    EXPECT_TRUE(read_file(local) == old_img);
    const std::string part = read_file(local + L".part");
    // A batch of ranges is written once it has all arrived: the range still
    // trickling in is lost with the process, the copied megabyte is not.
    EXPECT_GE(part.size(), size_t{1} << 20) << "the first megabyte from the old file";
    EXPECT_LT(part.size(), new_img.size());
    EXPECT_TRUE(part == new_img.substr(0, part.size()));

    clear_server_faults();
    ASSERT_EQ(run_process(exe, args, 90000), 0) << log_text();
    EXPECT_TRUE(read_file(local) == new_img);
    EXPECT_FALSE(file_exists(local + L".part"));
}

}  // namespace
