// Runs the game files job once into a folder, as the launcher does when the
// player installs or plays, and prints how it ended and how long the job took
// (from the start to its last message, without the process start).
// Usage: game_files.exe INSTALL_DIR [LOG_FILE]
#include <cstdio>
#include <string>

#include <windows.h>

#include "launcher/core/log.h"
#include "launcher/core/window_messages.h"
#include "launcher/download/game_files_job.h"
#include "launcher/session/text_convert.h"

namespace {

int outcome = 0;  // 0 running, 1 game ready, 2 error
std::string last_event;
int event_count = 0;

LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_PAGE_EVENT) {
        char* text = reinterpret_cast<char*>(lparam);
        last_event = text;
        delete[] text;
        ++event_count;
        if (last_event.find("\"type\":\"error\"") != std::string::npos) outcome = 2;
        return 0;
    }
    if (message == WM_START_GAME) {
        outcome = 1;
        return 0;
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 && argc != 3) return 2;
    if (argc == 3) log_open(wide_to_narrow(argv[2], CP_ACP), false);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KorvalBenchWindow";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
    if (!window) return 1;

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    GameFilesRequest request;
    request.install_dir = wide_to_narrow(argv[1], CP_ACP);
    request.window = window;
    begin_game_files_job(request);
    MSG msg;
    while (outcome == 0 && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    QueryPerformanceCounter(&end);
    stop_game_files_job();
    DestroyWindow(window);
    log_close();

    double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    std::printf("%s %.3f s, %d events, last: %s\n", outcome == 1 ? "ok" : "failed", seconds,
                event_count, last_event.c_str());
    return outcome == 1 ? 0 : 1;
}
