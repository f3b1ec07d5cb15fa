// Stands in for a newly published launcher in the self-update tests: writes
// "probe.txt" beside itself with its command line (UTF-8) and whether it could
// take the single-instance lock, then exits.
#include <string>

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Local\\KorvalLauncher");
    bool free = mutex && GetLastError() != ERROR_ALREADY_EXISTS;

    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring record_path(path, n);
    record_path = record_path.substr(0, record_path.find_last_of(L'\\')) + L"\\probe.txt";

    const wchar_t* line = GetCommandLineW();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(bytes > 0 ? bytes - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), bytes, nullptr, nullptr);
    text += free ? "\nmutex free\n" : "\nmutex taken\n";

    // Written under another name first, so the test never reads half a record.
    std::wstring temp = record_path + L".tmp";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
        // A test's scanner stand-in may hold the new file for a moment.
        for (int i = 0; i < 100; ++i) {
            if (MoveFileExW(temp.c_str(), record_path.c_str(), MOVEFILE_REPLACE_EXISTING)) break;
            Sleep(50);
        }
    }
    if (mutex) CloseHandle(mutex);
    return 0;
}
