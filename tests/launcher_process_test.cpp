// korval_launcher.exe as a real process: start-up line, log modes and the
// single-instance rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "launcher/core/win_handles.h"
#include "launcher/session/text_convert.h"
#include "test_support.h"

namespace {

std::vector<std::string> log_messages(const std::wstring& path) {
    std::vector<std::string> out;
    std::string text = read_file(path);
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        out.push_back(text.substr(start + 13, end - start - 13));  // past "hh:mm:ss.mmm "
    return out;
}

// A copy of the launcher in a folder of its own, so its log lands there.
class LauncherProcess : public ::testing::Test {
protected:
    TempDir dir{L"Лаунчер korval"};
    TempDir game{L"game"};
    std::wstring exe = dir.file(L"korval_launcher.exe");
    std::wstring log = dir.file(L"korval_launcher.log");

    void SetUp() override {
        ASSERT_TRUE(CopyFileW((exe_dir() + L"\\korval_launcher.exe").c_str(), exe.c_str(), FALSE));
        ASSERT_TRUE(install_stub_runtime(dir.path(), "close\n"));
    }
    std::string dir_ansi() const { return wide_to_narrow(dir.path(), CP_ACP); }
    std::string game_ansi() const { return wide_to_narrow(game.path(), CP_ACP); }
    std::wstring game_arg() const { return L"\"--game-dir=" + game.path() + L"\""; }
};

TEST_F(LauncherProcess, WritesTheStartUpLineAndEndsWithExit) {
    ASSERT_EQ(run_process(exe, L"--no-update --server=1.2.3.4:7777 " + game_arg()), 0);
    std::vector<std::string> m = log_messages(log);
    ASSERT_GE(m.size(), 2u);
    EXPECT_EQ(m.front(), "korval_launcher 0.1.4, app dir '" + dir_ansi() + "', game dir '" +
                             game_ansi() + "' (not installed), server 1.2.3.4:7777");
    EXPECT_EQ(m.back(), "exit");
    EXPECT_EQ(std::count(m.begin(), m.end(), "exit"), 1);

    // Installed, and every flag named in the line in its fixed order.
    ASSERT_TRUE(write_file(game.file(L"gta_sa.exe"), "x"));
    ASSERT_TRUE(write_file(game.file(L"samp.exe"), "x"));
    ASSERT_EQ(run_process(exe, L"--dev --no-game --no-update --fake-error --server=5.6.7.8:7778 " +
                                   game_arg()),
              0);
    EXPECT_EQ(log_messages(log).at(0), "korval_launcher 0.1.4, app dir '" + dir_ansi() +
                                           "', game dir '" + game_ansi() +
                                           "', server 5.6.7.8:7778, --fake-error, --no-game, --dev");
}

TEST_F(LauncherProcess, RestartAfterUpdateContinuesThePreviousLog) {
    ASSERT_EQ(run_process(exe, L"--no-update " + game_arg()), 0);
    ASSERT_EQ(run_process(exe, L"--no-update " + game_arg() + L" --updated-from=0.1.3"), 0);
    std::vector<std::string> m = log_messages(log);
    auto first_exit = std::find(m.begin(), m.end(), "exit");
    ASSERT_LT(first_exit + 2, m.end());
    EXPECT_EQ(first_exit[1].rfind("korval_launcher 0.1.4, ", 0), 0u);
    EXPECT_EQ(first_exit[2], "update: now 0.1.4 (was 0.1.3)");
    EXPECT_EQ(m.back(), "exit");

    // Any ordinary start begins a fresh log.
    ASSERT_EQ(run_process(exe, L"--no-update " + game_arg()), 0);
    m = log_messages(log);
    EXPECT_EQ(m.front().rfind("korval_launcher 0.1.4, ", 0), 0u);
    EXPECT_EQ(std::count(m.begin(), m.end(), "exit"), 1);
}

LRESULT CALLBACK plain_window_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return DefWindowProcW(w, m, wp, lp);
}

TEST_F(LauncherProcess, SecondInstanceRestoresTheFirstAndTouchesNothing) {
    // This test process plays the running launcher: it holds the lock and
    // owns a minimised window of the launcher's class.
    UniqueHandle lock(CreateMutexW(nullptr, TRUE, L"Local\\KorvalLauncher"));
    ASSERT_TRUE(lock.valid());
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    WNDCLASSW wc = {};
    wc.lpfnWndProc = plain_window_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KorvalLauncher";
    ASSERT_NE(RegisterClassW(&wc), 0);
    HWND window = CreateWindowExW(0, L"KorvalLauncher", L"KORVAL", WS_OVERLAPPEDWINDOW, 0, 0,
                                  400, 300, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr) << "needs an X display";
    ShowWindow(window, SW_SHOWMINIMIZED);
    ASSERT_TRUE(IsIconic(window));

    EXPECT_EQ(run_process(exe, L"--no-update --dev " + game_arg()), 0);
    EXPECT_FALSE(file_exists(log)) << "a second instance touches no log";
    EXPECT_FALSE(IsIconic(window)) << "the running instance's window is restored";
    EXPECT_TRUE(IsWindowVisible(window));

    DestroyWindow(window);
    UnregisterClassW(L"KorvalLauncher", wc.hInstance);
    ReleaseMutex(lock.get());
    lock.reset();

    // With the lock free again the launcher runs normally.
    EXPECT_EQ(run_process(exe, L"--no-update " + game_arg()), 0);
    EXPECT_TRUE(file_exists(log));
}

}  // namespace
