#pragma once
// Small helpers shared by the test programs: private temp folders, files,
// registry clean-up and child processes.
#include <string>
#include <vector>

#include <windows.h>

// A fresh folder under the prefix's temp folder, removed with its content.
class TempDir {
public:
    explicit TempDir(const std::wstring& tag = L"korval");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

bool write_file(const std::wstring& path, const std::string& bytes);
std::string read_file(const std::wstring& path);
bool file_exists(const std::wstring& path);
void remove_tree(const std::wstring& path);

// The folder that holds the running test program (and the built executables).
std::wstring exe_dir();

// Deletes HKCU\Software\KORVAL when created and again when destroyed, so a
// test starts from and leaves a prefix without a saved folder.
class SettingsKeyGuard {
public:
    SettingsKeyGuard();
    ~SettingsKeyGuard();
};

// Gives a launcher folder the stand-in browser runtime (cef\libcef.dll and
// the sub-process program cef\korval.exe) with `scenario` to play, so that
// a launcher process started there runs its window and ends as the scenario
// says (a "close" line closes the window as the user would).
bool install_stub_runtime(const std::wstring& launcher_dir, const std::string& scenario);

// Starts a program without waiting for it: its process handle (the caller
// closes it) and id, or null when it could not be started.
HANDLE start_process(const std::wstring& exe, const std::wstring& arguments,
                     DWORD* process_id = nullptr);

// Starts a program and waits for it while pumping this thread's messages (a
// child may send messages to windows of this thread). Returns the exit code,
// or -1 when it could not be started or did not end within `timeout_ms`.
int run_process(const std::wstring& exe, const std::wstring& arguments,
                DWORD timeout_ms = 30000);

// Text checks shared by the tests.
bool contains(const std::string& text, const std::string& part);
bool contains(const std::vector<std::string>& lines, const std::string& line);
int occurrences(const std::string& text, const std::string& part);
