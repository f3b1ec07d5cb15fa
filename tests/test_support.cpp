#include "test_support.h"

#include <algorithm>
#include <vector>

#include "launcher/core/win_handles.h"

TempDir::TempDir(const std::wstring& tag) {
    static LONG counter = 0;
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    path_ = std::wstring(base) + tag + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(InterlockedIncrement(&counter));
    remove_tree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempDir::~TempDir() { remove_tree(path_); }

void remove_tree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_tree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

bool write_file(const std::wstring& path, const std::string& bytes) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size();
}

std::string read_file(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string out;
    if (!file.valid()) return out;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        out.append(buffer, got);
    return out;
}

bool file_exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring exe_dir() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L"\\/"));
}

SettingsKeyGuard::SettingsKeyGuard() { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KORVAL"); }
SettingsKeyGuard::~SettingsKeyGuard() { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KORVAL"); }

HANDLE start_process(const std::wstring& exe, const std::wstring& arguments, DWORD* process_id) {
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    std::vector<wchar_t> buffer(command.begin(), command.end());
    buffer.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    if (process_id) *process_id = pi.dwProcessId;
    return pi.hProcess;
}

int run_process(const std::wstring& exe, const std::wstring& arguments, DWORD timeout_ms) {
    UniqueHandle process(start_process(exe, arguments));
    if (!process.valid()) return -1;

    DWORD deadline = GetTickCount() + timeout_ms;
    for (;;) {
        DWORD now = GetTickCount();
        if (static_cast<LONG>(deadline - now) <= 0) {
            TerminateProcess(process.get(), 99);
            return -1;
        }
        HANDLE h = process.get();
        DWORD r = MsgWaitForMultipleObjects(1, &h, FALSE, deadline - now, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

int occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

bool install_stub_runtime(const std::wstring& launcher_dir, const std::string& scenario) {
    const std::wstring cef = launcher_dir + L"\\cef";
    CreateDirectoryW(cef.c_str(), nullptr);
    const std::wstring bin = exe_dir();
    return CopyFileW((bin + L"\\cef_stub_full\\libcef.dll").c_str(),
                     (cef + L"\\libcef.dll").c_str(), FALSE) &&
           CopyFileW((bin + L"\\korval.exe").c_str(), (cef + L"\\korval.exe").c_str(), FALSE) &&
           write_file(cef + L"\\stub_scenario.txt", scenario);
}
