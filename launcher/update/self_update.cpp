#include "self_update.h"

#include <cstring>
#include <vector>

#include <windows.h>

#include "launcher/core/busy_file.h"
#include "launcher/core/log.h"
#include "launcher/core/single_instance.h"
#include "launcher/core/win_handles.h"
#include "launcher/net/http_client.h"
#include "launcher/net/json_reader.h"
#include "launcher/net/release_verify.h"
#include "launcher/net/sha256.h"
#include "version_record.h"

namespace {

const char RECORD_PATH[] = "/pc/launcher/latest.json";
const uint32_t RECORD_LIMIT = 65536;

bool equal_ignoring_ascii_case(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The fetched record, checked; false (with its log line) when it is not to be
// acted on: bad, or not newer than the running version.
bool accept_record(const std::string& text, const char* current, UpdateRecord& record,
                   std::string& path) {
    record = read_update_record(text);
    if (!is_valid_version(record.version)) {
        log_line("!! update: bad version in latest.json");
        return false;
    }
    if (compare_versions(record.version.c_str(), current) <= 0) {
        log_line("update: latest %s, current %s — up to date", record.version.c_str(), current);
        return false;
    }
    path = resolve_update_path(record.url);
    if (!is_safe_server_path(path) || record.sha256.size() != 64 || record.size < 1 ||
        record.size > MAX_LAUNCHER_BYTES) {
        log_line("!! update: bad url/sha256/size in latest.json");
        return false;
    }
    return true;
}

// The record is read only once it is trusted (verified, with release keys).
bool record_verified(const std::string& text) {
    std::string reason;
    if (fetch_and_verify(SignedDocument::LauncherRecord, RECORD_PATH, text, reason)) return true;
    log_line_bounded("!! update: latest.json not verified: %s", reason.c_str());
    return false;
}

bool write_new_executable(const std::wstring& path, const std::string& bytes) {
    // Scanners read a new executable as it is written; nobody else may change it.
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD error = 0;
    bool ok = file.valid();
    if (!ok) {
        error = GetLastError();
    } else {
        DWORD written = 0;
        ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr);
        if (!ok) {
            error = GetLastError();
        } else if (written != bytes.size()) {
            // Succeeded short: no code of its own, and GetLastError would
            // still hold CreateFileW's "already exists".
            ok = false;
            error = ERROR_WRITE_FAULT;
        } else if (!FlushFileBuffers(file.get())) {
            // It takes the launcher's name next: a power cut must not leave
            // a name whose bytes never reached the disk.
            ok = false;
            error = GetLastError();
        }
        file.reset();
    }
    if (!ok) {
        log_line("!! update: cannot write %ls (%lu)", path.c_str(), error);
        DWORD ignored = 0;
        delete_file_patiently(path, ignored);
    }
    return ok;
}

// This process's command line, then " --updated-from=" and the running version.
std::vector<wchar_t> restart_command_line(const char* current) {
    std::wstring line = GetCommandLineW();
    line += L" --updated-from=";
    for (const char* p = current; *p; ++p) line.push_back(static_cast<unsigned char>(*p));
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    return buffer;
}

// The full path of the running executable, or false with a code when there
// is none to be had: every file of the update is named after it.
bool read_executable_path(std::wstring& path, DWORD& error) {
    wchar_t buffer[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (n == 0) {
        error = GetLastError();
        return false;
    }
    if (n >= MAX_PATH) {
        // Cut to fit the buffer; a cut path names some other file.
        error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    path.assign(buffer, n);
    return true;
}

// The old executable, renamed aside, takes the launcher's name again; when
// even that is refused, a copy of it does. A copy needs no delete access to
// what a scanner holds, so the player is never left without a launcher.
void restore_old_executable(const std::wstring& exe, const std::wstring& old_exe) {
    DWORD error = 0;
    if (move_file_patiently(old_exe, exe, MOVEFILE_REPLACE_EXISTING, error)) return;
    log_line("!! update: cannot move .old back (%lu), copying it", error);
    if (!CopyFileW(old_exe.c_str(), exe.c_str(), FALSE))
        log_line("!! update: cannot copy .old back (%lu)", GetLastError());
}

// exe -> exe.old, exe.new -> exe. False (with its log line) when the running
// executable is still in place afterwards.
bool swap_in_new_executable(const std::wstring& exe, const std::wstring& new_exe,
                            const std::wstring& old_exe) {
    // A read-only ".old" would refuse the replacing move; a held one is
    // waited for by the move itself.
    DeleteFileW(old_exe.c_str());
    DWORD error = 0;
    if (!move_file_patiently(exe, old_exe, MOVEFILE_REPLACE_EXISTING, error)) {
        log_line("!! update: cannot rename running exe (%lu)", error);
        delete_file_patiently(new_exe, error);
        return false;
    }
    if (!move_file_patiently(new_exe, exe, MOVEFILE_REPLACE_EXISTING, error)) {
        log_line("!! update: cannot put new exe in place (%lu), rolling back", error);
        restore_old_executable(exe, old_exe);
        delete_file_patiently(new_exe, error);
        return false;
    }
    return true;
}

// The new executable would not start: it goes back to ".new" and the old one
// takes the name again. Should the new one not move, the old one still
// replaces it, as a copy if need be.
void put_back_after_failed_start(const std::wstring& exe, const std::wstring& new_exe,
                                 const std::wstring& old_exe) {
    DWORD error = 0;
    if (!move_file_patiently(exe, new_exe, MOVEFILE_REPLACE_EXISTING, error))
        log_line("!! update: cannot move the new exe aside (%lu)", error);
    restore_old_executable(exe, old_exe);
    delete_file_patiently(new_exe, error);
}

}  // namespace

std::wstring executable_path() {
    std::wstring path;
    DWORD error = 0;
    return read_executable_path(path, error) ? path : std::wstring();
}

void remove_old_executable() {
    std::wstring exe;
    DWORD error = 0;
    // Without the folder, ".old" would name a file in the current folder.
    if (!read_executable_path(exe, error)) {
        log_line("!! update: own path unknown (%lu), not looking for .old", error);
        return;
    }
    std::wstring old_path = exe + L".old";
    if (GetFileAttributesW(old_path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    // The launcher that was replaced may still be ending, and a scanner may
    // hold the file it left.
    if (!delete_file_patiently(old_path, error))
        log_line("update: cannot delete .old yet (%lu), next start", error);
}

bool self_update(const char* current_version, const char* updated_from) {
    // Known before anything is fetched: a launcher that cannot name its own
    // files has no use for a new executable.
    std::wstring exe;
    DWORD path_error = 0;
    if (!read_executable_path(exe, path_error)) {
        log_line("!! update: own path unknown (%lu), not updating", path_error);
        return false;
    }

    std::string text;
    if (!http_get_to_memory(RECORD_PATH, text, RECORD_LIMIT)) return false;
    if (!record_verified(text)) return false;

    UpdateRecord record;
    std::string path;
    if (!accept_record(text, current_version, record, path)) return false;
    // The update that started this process installed what the record names,
    // yet the result runs as no newer a version than the one it replaced: the
    // server's file and record disagree, and updating again would repeat the
    // same swap at every start of every new process. An update that did move
    // forward may meet a release published since, and takes it.
    if (updated_from && *updated_from && compare_versions(updated_from, current_version) >= 0) {
        log_line("!! update: the published executable is not the version latest.json names "
                 "(%s): it runs as %s after the update from %s; not updating again",
                 record.version.c_str(), current_version, updated_from);
        return false;
    }
    log_line("update: %s -> %s, downloading %s (%lu bytes)", current_version,
             record.version.c_str(), path.c_str(), static_cast<unsigned long>(record.size));

    std::string bytes;
    if (!http_get_to_memory(path, bytes, MAX_LAUNCHER_BYTES)) return false;
    // The size first: the digest is only worth computing for the right length.
    if (bytes.size() != record.size || !equal_ignoring_ascii_case(sha256_hex(bytes), record.sha256)) {
        log_line("!! update: downloaded file does not match latest.json (size %u)",
                 static_cast<unsigned>(bytes.size()));
        return false;
    }

    const std::wstring new_exe = exe + L".new";
    const std::wstring old_exe = exe + L".old";
    if (!write_new_executable(new_exe, bytes)) return false;
    bytes = std::string();  // up to 256 MiB: not kept for the rest of the run

    if (!swap_in_new_executable(exe, new_exe, old_exe)) return false;

    std::vector<wchar_t> command_line = restart_command_line(current_version);
    // The new launcher's single-instance check would take a held lock for a
    // running launcher and quit.
    release_single_instance();
    log_line("update: starting %s, exiting", record.version.c_str());

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(exe.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return true;
    }
    log_line("!! update: cannot start new exe (%lu), rolling back", GetLastError());
    // This launcher runs on, so it holds the lock again, at once: while it
    // was free, another launcher may have started and taken it.
    const bool still_alone = acquire_single_instance();
    put_back_after_failed_start(exe, new_exe, old_exe);
    if (!still_alone) {
        log_line("!! update: another launcher started meanwhile, this one ends");
        return true;
    }
    return false;
}
