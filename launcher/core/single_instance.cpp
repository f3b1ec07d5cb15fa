#include "single_instance.h"

#include <windows.h>

namespace {

const wchar_t MUTEX_NAME[] = L"Local\\KorvalLauncher";
const wchar_t WINDOW_CLASS[] = L"KorvalLauncher";

HANDLE instance_mutex = nullptr;

void restore_running_instance() {
    HWND window = FindWindowW(WINDOW_CLASS, nullptr);
    if (!window) return;
    ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}

}  // namespace

bool acquire_single_instance() {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, MUTEX_NAME);
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        restore_running_instance();
        return false;
    }
    // Any other failure to create it: carry on as the only instance.
    instance_mutex = mutex;
    return true;
}

void release_single_instance() {
    if (!instance_mutex) return;
    ReleaseMutex(instance_mutex);
    CloseHandle(instance_mutex);
    instance_mutex = nullptr;
}
