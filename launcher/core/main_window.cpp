#include "main_window.h"

#include <dwmapi.h>

#include "launcher/browser/browser_client.h"
#include "launcher/browser/cef_api.h"
#include "launcher/browser/page_bridge.h"
#include "launcher/download/download_events.h"
#include "launcher/download/game_files_job.h"
#include "launcher/session/game_launch.h"
#include "launcher/session/install_dir.h"
#include "launcher/session/json_writer.h"
#include "launcher/session/player_actions.h"
#include "log.h"
#include "taskbar.h"
#include "window_messages.h"

HWND main_window = nullptr;
bool closing = false;

namespace {

const COLORREF BACKGROUND = RGB(5, 5, 5);
const DWORD DARK_TITLE_BAR_ATTRIBUTE = 20;
const int ICON_RESOURCE = 1;
// A second close within this time of the question closes: a page that
// cannot answer never keeps the window open.
const DWORD CLOSE_QUESTION_MS = 10000;

// Window thread only; 0 when no question is out.
DWORD close_asked_at = 0;

// The close box, Alt+F4 and the taskbar's "Close window" come as SC_CLOSE;
// during a download the page asks the player first. A WM_CLOSE of its own
// (the page's exit, the game start's timer, Windows' end of session) never asks.
bool ask_before_close() {
    if (!current_browser || closing || !game_files_job_downloading()) return false;
    const DWORD now = GetTickCount();
    if (close_asked_at != 0 && now - close_asked_at < CLOSE_QUESTION_MS) {
        log_line("window: closed again while asked, closing");
        return false;
    }
    close_asked_at = now == 0 ? 1 : now;
    log_line("window: close during the download, the page asks");
    send_page_event(bare_event_text("closeQuestion"));
    return true;
}

void focus_browser() {
    cef_browser_host_t* host = current_browser->get_host(current_browser);
    if (!host) return;
    host->set_focus(host, 1);
    host->base.release(&host->base);
}

// The browser's window is this window's child, created at the client area's
// size, and nothing else sizes it afterwards.
void fill_client_area(HWND window, int width, int height) {
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SetWindowPos(child, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void close_browser() {
    cef_browser_host_t* host = current_browser->get_host(current_browser);
    if (!host) return;
    // Forced: the page gets no say in the close.
    host->close_browser(host, 1);
    host->base.release(&host->base);
}

}  // namespace

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_DESTROY:
        // The job posts nothing once stopped, so the queue can be emptied for
        // good; texts left in it would go with the window.
        stop_game_files_job();
        discard_queued_page_events(window);
        taskbar_detach();
        cef_api.quit_message_loop();
        return 0;
    case WM_SETFOCUS:
        // Keyboard input belongs to the page.
        if (current_browser) focus_browser();
        return 0;
    case WM_CLOSE:
        // The first close asks the browser to go; the runtime answers with a
        // second WM_CLOSE, which destroys the window.
        if (current_browser && !closing) {
            closing = true;
            stop_game_files_job();
            close_browser();
            return 0;
        }
        break;
    case WM_SYSCOMMAND:
        if ((wparam & 0xFFF0) == SC_CLOSE && ask_before_close()) return 0;
        break;
    case WM_ERASEBKGND:
        // The browser covers the client area.
        return 1;
    case WM_DPICHANGED: {
        // Per-monitor aware (the manifest), the window is not scaled by
        // Windows when it reaches a screen of another scale: it takes the
        // rectangle Windows suggests, which keeps the page's size at the new
        // scale, and WM_SIZE brings the browser along.
        const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
        log_line("window: a screen at %u DPI", static_cast<unsigned>(HIWORD(wparam)));
        SetWindowPos(window, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_SIZE:
        // Minimised, the client area is empty; the restore sizes it again.
        if (wparam != SIZE_MINIMIZED) fill_client_area(window, LOWORD(lparam), HIWORD(lparam));
        return 0;
    case WM_TIMER:
        if (wparam == CLOSE_TIMER_ID) {
            // Killed first, so the close is posted once.
            KillTimer(window, CLOSE_TIMER_ID);
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        return 0;
    case WM_PAGE_EVENT: {
        const std::string text = take_page_event_text(lparam);
        taskbar_show_event(window, text);
        send_page_event(text);
        return 0;
    }
    case WM_START_GAME:
        // The player closed the launcher while the job's last word was on
        // its way: no registry writes, no game.
        if (closing) {
            log_line("game: not started, the launcher is closing");
            return 0;
        }
        launch_game();
        return 0;
    case WM_PICK_DIR:
        run_pick_flow();
        return 0;
    case WM_FILES_CHECKED:
        game_files_checked(wparam, static_cast<uint64_t>(lparam));
        return 0;
    }
    if (message == taskbar_button_created_message()) {
        taskbar_attach();
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// Not LR_SHARED: the shared cache answers a second size with the first image
// loaded from the same resource.
WindowIcons load_window_icons(HINSTANCE instance) {
    WindowIcons icons;
    icons.large = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(ICON_RESOURCE),
                                                IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    icons.small = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(ICON_RESOURCE),
                                                IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    return icons;
}

RECT main_window_rect(int dpi, const RECT& work) {
    RECT outer{0, 0, MulDiv(CLIENT_WIDTH, dpi, 96), MulDiv(CLIENT_HEIGHT, dpi, 96)};
    AdjustWindowRect(&outer, MAIN_WINDOW_STYLE, FALSE);
    int width = outer.right - outer.left;
    int height = outer.bottom - outer.top;
    int x = work.left + (work.right - work.left - width) / 2;
    int y = work.top + (work.bottom - work.top - height) / 2;
    return RECT{x, y, x + width, y + height};
}

bool create_main_window() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = main_window_proc;
    window_class.hInstance = instance;
    const WindowIcons icons = load_window_icons(instance);
    window_class.hIcon = icons.large;
    window_class.hIconSm = icons.small;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = CreateSolidBrush(BACKGROUND);
    window_class.lpszClassName = MAIN_WINDOW_CLASS;
    if (!RegisterClassExW(&window_class)) {
        log_line("!! CreateWindow failed: %lu", GetLastError());
        return false;
    }

    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT r = main_window_rect(dpi, work);

    main_window = CreateWindowExW(0, MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE, MAIN_WINDOW_STYLE,
                                  r.left, r.top, r.right - r.left, r.bottom - r.top, nullptr,
                                  nullptr, instance, nullptr);
    if (!main_window) {
        log_line("!! CreateWindow failed: %lu", GetLastError());
        return false;
    }
    BOOL dark = TRUE;
    DwmSetWindowAttribute(main_window, DARK_TITLE_BAR_ATTRIBUTE, &dark, sizeof dark);
    ShowWindow(main_window, SW_SHOW);
    UpdateWindow(main_window);
    // Where the button is never announced, it is driven from the start;
    // calls before it exists only fail.
    taskbar_attach();
    return true;
}
