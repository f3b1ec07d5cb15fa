// Stands in for a real-time security scanner (or the search indexer) in
// tests. It watches folders, opens every file that appears or changes there
// for reading without delete sharing, and keeps it open until the file has
// not changed for HOLD_MS: while it holds a file, that file can be read and
// written, but not renamed, replaced or deleted, as on a player's PC right
// after a file is written.
//
// Usage: scanner_stub.exe HOLD_MS STOP_EVENT REPORT FOLDER [FOLDER...]
// Files present at the start are taken as already scanned. The scanner runs
// until the named event is set, then writes to REPORT one line per hold:
// "held<TAB>path<TAB>ms" (UTF-8), and "ready" is set in the event named
// STOP_EVENT + "_ready" once the first look at the folders is done.
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

namespace {

const DWORD POLL_MS = 1;

struct Signature {
    uint64_t size = 0;
    uint64_t time = 0;
    bool operator==(const Signature& other) const {
        return size == other.size && time == other.time;
    }
};

struct Hold {
    HANDLE file = nullptr;
    Signature seen;
    DWORD opened_at = 0;
    DWORD changed_at = 0;
};

uint64_t join(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

// Shared by the look every millisecond and the watchers, which open a new
// file the moment the system reports it, as a scanner's filter driver does.
std::mutex lock;
std::map<std::wstring, Signature> scanned;
std::map<std::wstring, Hold> held;
std::string report;

std::string utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

// Every file below `folder` with its size and write time.
void list_files(const std::wstring& folder, std::map<std::wstring, Signature>& out) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = folder + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            list_files(path, out);
        } else {
            out[path] = Signature{join(entry.nFileSizeHigh, entry.nFileSizeLow),
                                  join(entry.ftLastWriteTime.dwHighDateTime,
                                       entry.ftLastWriteTime.dwLowDateTime)};
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

bool signature_of(HANDLE file, Signature& out) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return false;
    out.size = join(info.nFileSizeHigh, info.nFileSizeLow);
    out.time = join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    return true;
}

// Opens `path` unless it is held or was scanned as it is; a file its writer
// still keeps to itself is tried again later. Called with the lock held.
void try_hold(const std::wstring& path, const Signature& signature, DWORD now) {
    if (held.count(path)) return;
    auto known = scanned.find(path);
    if (known != scanned.end() && known->second == signature) return;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    Hold hold;
    hold.file = file;
    hold.opened_at = now;
    hold.changed_at = now;
    if (!signature_of(file, hold.seen)) hold.seen = signature;
    held[path] = hold;
}

void look(const std::vector<std::wstring>& folders, DWORD now) {
    std::map<std::wstring, Signature> files;
    for (const std::wstring& folder : folders) list_files(folder, files);
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& [path, signature] : files) try_hold(path, signature, now);
}

// Waits for the system's word on new and changed files below `folder`.
DWORD WINAPI watch(LPVOID param) {
    const std::wstring folder = *static_cast<std::wstring*>(param);
    HANDLE directory = CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (directory == INVALID_HANDLE_VALUE) return 1;
    alignas(DWORD) char buffer[65536];
    DWORD bytes = 0;
    const DWORD wanted = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE |
                         FILE_NOTIFY_CHANGE_LAST_WRITE;
    while (ReadDirectoryChangesW(directory, buffer, sizeof buffer, TRUE, wanted, &bytes, nullptr,
                                 nullptr)) {
        DWORD offset = 0;
        while (bytes > 0) {
            auto* change = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(buffer + offset);
            if (change->Action == FILE_ACTION_ADDED || change->Action == FILE_ACTION_MODIFIED ||
                change->Action == FILE_ACTION_RENAMED_NEW_NAME) {
                const std::wstring path =
                    folder + L"\\" +
                    std::wstring(change->FileName, change->FileNameLength / sizeof(wchar_t));
                WIN32_FILE_ATTRIBUTE_DATA data;
                if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
                    !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    const Signature signature{
                        join(data.nFileSizeHigh, data.nFileSizeLow),
                        join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)};
                    std::lock_guard<std::mutex> guard(lock);
                    try_hold(path, signature, GetTickCount());
                }
            }
            if (change->NextEntryOffset == 0) break;
            offset += change->NextEntryOffset;
        }
    }
    CloseHandle(directory);
    return 0;
}

// Lets go of what has been quiet for `hold_ms`; with `all`, of everything.
void release(DWORD hold_ms, bool all) {
    std::lock_guard<std::mutex> guard(lock);
    // Read under the lock: a watcher may have opened a file a moment ago.
    const DWORD now = GetTickCount();
    for (auto it = held.begin(); it != held.end();) {
        Hold& hold = it->second;
        Signature current;
        if (signature_of(hold.file, current) && !(current == hold.seen)) {
            hold.seen = current;
            hold.changed_at = now;
        }
        if (!all && now - hold.changed_at < hold_ms) {
            ++it;
            continue;
        }
        CloseHandle(hold.file);
        scanned[it->first] = hold.seen;
        report += "held\t" + utf8(it->first) + "\t" + std::to_string(now - hold.opened_at) + "\n";
        it = held.erase(it);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5) return 2;
    const DWORD hold_ms = wcstoul(argv[1], nullptr, 10);
    HANDLE stop = OpenEventW(SYNCHRONIZE, FALSE, argv[2]);
    if (!stop) return 3;
    const std::wstring report_path = argv[3];
    std::vector<std::wstring> folders(argv + 4, argv + argc);

    for (const std::wstring& folder : folders) list_files(folder, scanned);
    // The watchers end with the process.
    for (std::wstring& folder : folders) CreateThread(nullptr, 0, watch, &folder, 0, nullptr);
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, (std::wstring(argv[2]) + L"_ready").c_str());
    if (ready) {
        SetEvent(ready);
        CloseHandle(ready);
    }

    while (WaitForSingleObject(stop, POLL_MS) == WAIT_TIMEOUT) {
        look(folders, GetTickCount());
        release(hold_ms, false);
    }
    release(hold_ms, true);
    CloseHandle(stop);

    HANDLE out = CreateFileW(report_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return 4;
    DWORD written = 0;
    WriteFile(out, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    CloseHandle(out);
    return 0;
}
