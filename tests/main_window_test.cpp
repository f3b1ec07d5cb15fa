// The main window's place and size for a screen's DPI and work area, its
// icons, and what its procedure does with a game start at the close, with
// what a stopped job left queued, and with a move to a screen of another scale.
#include <gtest/gtest.h>

#include "launcher/core/main_window.h"
#include "launcher/core/session_state.h"
#include "launcher/core/taskbar.h"
#include "launcher/core/window_messages.h"
#include "launcher/download/download_events.h"
#include "launcher/session/player_actions.h"
#include "launcher/session/text_convert.h"
#include "test_support.h"

namespace {

// The frame that the fixed-size style adds around the client area.
SIZE frame() {
    RECT r{0, 0, 0, 0};
    AdjustWindowRect(&r, 0x02CA0000, FALSE);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

TEST(MainWindowRect, ScalesTheClientAreaAndCentresInTheWorkArea) {
    const SIZE f = frame();
    const RECT work{0, 0, 1600, 860};
    RECT r = main_window_rect(96, work);
    EXPECT_EQ(r.right - r.left - f.cx, 1280);
    EXPECT_EQ(r.bottom - r.top - f.cy, 591);
    EXPECT_EQ(r.left, (1600 - (1280 + f.cx)) / 2);
    EXPECT_EQ(r.top, (860 - (591 + f.cy)) / 2);

    // 886.5 rounds to 887; a task bar on the left moves the centre with it.
    const RECT wide{200, 0, 3000, 1600};
    r = main_window_rect(144, wide);
    EXPECT_EQ(r.right - r.left - f.cx, 1920);
    EXPECT_EQ(r.bottom - r.top - f.cy, 887);
    EXPECT_EQ(r.left, 200 + (2800 - (1920 + f.cx)) / 2);
}

TEST(MainWindowRect, AWindowLargerThanTheWorkAreaStartsAboveAndLeftOfIt) {
    const SIZE f = frame();
    const RECT small{0, 0, 1600, 860};
    const RECT r = main_window_rect(144, small);
    const int width = 1920 + f.cx, height = 887 + f.cy;
    // Division truncates toward zero: an odd overhang loses its half pixel.
    EXPECT_EQ(r.left, -((width - 1600) / 2));
    EXPECT_EQ(r.top, -((height - 860) / 2));
    EXPECT_LT(r.left, 0);
}

int icon_width(HICON icon) {
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info)) return 0;
    BITMAP bitmap{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

TEST(MainWindowIcons, TheSmallIconIsTheGroupsOwnSmallImage) {
    HMODULE launcher = LoadLibraryExW((exe_dir() + L"\\korval_launcher.exe").c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(launcher, nullptr);
    const WindowIcons icons = load_window_icons(launcher);
    EXPECT_EQ(icon_width(icons.large), GetSystemMetrics(SM_CXICON));
    EXPECT_EQ(icon_width(icons.small), GetSystemMetrics(SM_CXSMICON));
    EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), 16);
    DestroyIcon(icons.large);
    DestroyIcon(icons.small);
    FreeLibrary(launcher);
}

std::string samp_player_name() {
    char value[64] = {};
    DWORD size = sizeof value - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, "Software\\SAMP", "PlayerName", RRF_RT_REG_SZ, nullptr,
                     value, &size) != ERROR_SUCCESS)
        return "(none)";
    return value;
}

// The job's "files ready" may still be queued when the player closes the
// launcher; once closing, it starts nothing. Otherwise the game starts and
// the window closes 1.5 s after the launching screen, not at once.
TEST(MainWindowMessages, AGameStartQueuedBehindTheCloseStartsNothing) {
    TempDir games(L"game start");
    ASSERT_TRUE(write_file(games.file(L"samp.exe"), "MZ"));
    ASSERT_TRUE(write_file(games.file(L"gta_sa.exe"), "MZ"));
    session.game_dir = wide_to_narrow(games.path(), CP_ACP);
    session.nick = "Ivan_Petrov";
    session.server_address = "203.0.113.10:7777";
    session.no_game = true;
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\SAMP");
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    main_window = window;

    closing = true;
    EXPECT_EQ(main_window_proc(window, WM_START_GAME, 0, 0), 0);
    EXPECT_EQ(samp_player_name(), "(none)");
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, window, WM_TIMER, WM_TIMER, PM_NOREMOVE)) << "no close timer";

    closing = false;
    const DWORD started = GetTickCount();
    main_window_proc(window, WM_START_GAME, 0, 0);
    EXPECT_EQ(samp_player_name(), "Ivan_Petrov");
    DWORD fired = 0;
    while (GetTickCount() - started < 10000) {
        if (PeekMessageW(&msg, window, WM_TIMER, WM_TIMER, PM_REMOVE) &&
            msg.wParam == CLOSE_TIMER_ID) {
            fired = GetTickCount() - started;
            break;
        }
        Sleep(10);
    }
    EXPECT_GE(fired, 1450u) << "the launching screen stays up for 1.5 s";
    EXPECT_LT(fired, 10000u);

    KillTimer(window, CLOSE_TIMER_ID);
    DestroyWindow(window);
    main_window = nullptr;
    session = SessionState();
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\SAMP");
}

// The job's last words may still be queued when the player pauses or
// cancels: a progress event would take the page back from its paused or
// cancelled screen, and a game start would run the game the player stopped.
TEST(MainWindowMessages, WhatTheJobQueuedBeforeAPauseOrACancelReachesNobody) {
    TempDir games(L"stopped job");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\SAMP");
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    main_window = window;

    const std::pair<const char*, void (*)()> stops[] = {{"pause", pause_game_files},
                                                        {"cancel", cancel_game_files}};
    for (const auto& [name, stop] : stops) {
        session = SessionState();
        session.game_dir = wide_to_narrow(games.path(), CP_ACP);
        session.nick = "Ivan_Petrov";
        session.no_game = true;
        session.busy = true;
        ASSERT_TRUE(post_progress_event(window, "Скачивание ресурсов игры", "", 40, false));
        ASSERT_TRUE(PostMessageW(window, WM_START_GAME, 0, 0));
        ASSERT_TRUE(PostMessageW(window, WM_FILES_CHECKED, 1, 2));
        stop();
        // Whatever is left goes on to the window procedure, as the loop would hand it.
        int progress = 0, game_start = 0, files_checked = 0;
        MSG msg;
        while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
            progress += msg.message == WM_PAGE_EVENT;
            game_start += msg.message == WM_START_GAME;
            files_checked += msg.message == WM_FILES_CHECKED;
            main_window_proc(window, msg.message, msg.wParam, msg.lParam);
        }
        EXPECT_EQ(progress, 0) << name;
        EXPECT_EQ(game_start, 0) << name;
        EXPECT_EQ(files_checked, 0) << name;
        EXPECT_EQ(samp_player_name(), "(none)") << "the game started after the " << name;
        KillTimer(window, CLOSE_TIMER_ID);
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\SAMP");
    }

    DestroyWindow(window);
    main_window = nullptr;
    session = SessionState();
}

// The launcher's WM_DESTROY ends the runtime's message loop; here there is none.
LRESULT CALLBACK without_runtime_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) return DefWindowProcW(window, message, wparam, lparam);
    return main_window_proc(window, message, wparam, lparam);
}

RECT rect_in_parent(HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Dragged to a screen of another scale, the window takes the rectangle
// Windows suggests for it, and the browser's window (a child standing for
// it here) fills the new client area: neither is resized by anyone else.
TEST(MainWindowMessages, AScreenOfAnotherScaleResizesTheWindowAndTheBrowser) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = without_runtime_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"KorvalDpiTest";
    ASSERT_NE(RegisterClassW(&window_class), 0);
    const RECT start = main_window_rect(96, RECT{0, 0, 1600, 860});
    HWND window = CreateWindowExW(0, window_class.lpszClassName, L"", MAIN_WINDOW_STYLE,
                                  start.left, start.top, start.right - start.left,
                                  start.bottom - start.top, nullptr, nullptr,
                                  window_class.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    RECT client{};
    GetClientRect(window, &client);
    HWND browser = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, client.right,
                                   client.bottom, window, nullptr, nullptr, nullptr);
    ASSERT_NE(browser, nullptr);

    // 125 %: what Windows suggests keeps the client area at the page's size
    // for the new scale.
    const RECT suggested = main_window_rect(120, RECT{0, 0, 1600, 900});
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(120, 120), reinterpret_cast<LPARAM>(&suggested));
    RECT now{};
    GetWindowRect(window, &now);
    EXPECT_EQ(now.left, suggested.left);
    EXPECT_EQ(now.top, suggested.top);
    EXPECT_EQ(now.right, suggested.right);
    EXPECT_EQ(now.bottom, suggested.bottom);
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 1600);
    const RECT view = rect_in_parent(browser);
    EXPECT_EQ(view.left, 0);
    EXPECT_EQ(view.top, 0);
    EXPECT_EQ(view.right, client.right);
    EXPECT_EQ(view.bottom, client.bottom);

    DestroyWindow(window);
    UnregisterClassW(window_class.lpszClassName, window_class.hInstance);
}

// The taskbar button follows the events the page gets: the job's progress,
// red on an error, and a flash for an error or the end of a download.
TEST(MainWindowTaskbar, TheButtonFollowsTheEventsToThePage) {
    bool downloaded = false;
    auto update = [&](const std::string& event) { return taskbar_update_for(event, downloaded); };
    TaskbarUpdate u = update(R"({"type":"progress","title":"Проверка обновлений...","details":"",)"
                             R"("percent":0,"indeterminate":true,"phase":"manifest"})");
    EXPECT_EQ(u.state, TaskbarProgress::Indeterminate);
    u = update(R"({"type":"progress","title":"t","details":"d","percent":37,"indeterminate":false,)"
               R"("phase":"download","bytesDone":1})");
    EXPECT_EQ(u.state, TaskbarProgress::Normal);
    EXPECT_EQ(u.percent, 37);
    EXPECT_FALSE(u.flash);
    u = update(R"({"type":"progress","title":"t","details":"d","percent":100,"indeterminate":false,)"
               R"("phase":"done"})");
    EXPECT_EQ(u.state, TaskbarProgress::None);
    EXPECT_TRUE(u.flash) << "the end of a download";
    // An older launcher's event without figures still moves the bar; an end
    // without a download is no news.
    u = update(R"({"type":"progress","title":"t","details":"d","percent":250,"indeterminate":false})");
    EXPECT_EQ(u.percent, 100);
    u = update(R"({"type":"progress","title":"t","details":"d","percent":100,"indeterminate":false,)"
               R"("phase":"done"})");
    EXPECT_FALSE(u.flash);
    u = update(R"({"type":"error","title":"Ошибка загрузки","message":"m"})");
    EXPECT_EQ(u.state, TaskbarProgress::Error);
    EXPECT_EQ(u.percent, 100) << "the red bar is full, not left at 0 %";
    EXPECT_TRUE(u.flash);
    EXPECT_EQ(update(R"({"type":"launching"})").state, TaskbarProgress::None);
    // A pause keeps the bar where it was, in the paused colour; a cancel
    // clears it, and the download it cut short earns no flash later.
    update(R"({"type":"progress","title":"t","details":"d","percent":12,"indeterminate":false,)"
           R"("phase":"download"})");
    EXPECT_EQ(update(R"({"type":"paused"})").state, TaskbarProgress::Paused);
    EXPECT_EQ(update(R"({"type":"cancelled"})").state, TaskbarProgress::None);
    EXPECT_FALSE(update(R"({"type":"progress","title":"t","details":"d","percent":100,)"
                        R"("indeterminate":false,"phase":"done"})")
                     .flash);
    EXPECT_EQ(update(R"({"type":"installDir","path":"C:\\x"})").state,
              TaskbarProgress::Unchanged);
}

}  // namespace
