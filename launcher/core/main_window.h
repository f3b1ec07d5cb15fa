#pragma once
// The launcher's one top-level window. Its procedure is where the work of
// other threads (posted messages) and the page's deferred requests run on the
// window thread, which is also the browser runtime's UI thread, and where the
// orderly close of browser and window is driven.
#include <windows.h>

const wchar_t MAIN_WINDOW_CLASS[] = L"KorvalLauncher";
const wchar_t MAIN_WINDOW_TITLE[] = L"KORVAL";
// Caption, system menu and minimise box: fixed size, no maximise box.
const DWORD MAIN_WINDOW_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
// The client area at 96 DPI.
const int CLIENT_WIDTH = 1280;
const int CLIENT_HEIGHT = 591;

// Set once when the window starts closing its browser; never cleared.
extern bool closing;

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Registers the class and creates the window, sized for the screen's DPI and
// centred in the work area, with a dark title bar, and shows it. On success
// `main_window` is set; on failure the error is logged and the result is false.
bool create_main_window();

// The window rectangle (outer size) for a client area at `dpi`, centred in `work`.
RECT main_window_rect(int dpi, const RECT& work);

// The window class's icons from the executable's icon group: the large one at
// the system's icon size and the small one (title bar, taskbar) from the
// group's own small image at the system's small-icon size, not the large one
// scaled down. Kept for the life of the process, as the class is.
struct WindowIcons {
    HICON large = nullptr;
    HICON small = nullptr;
};
WindowIcons load_window_icons(HINSTANCE instance);
