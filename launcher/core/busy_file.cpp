#include "busy_file.h"

#include "log.h"

const DWORD BUSY_FILE_PATIENCE_MS = 5000;

namespace {

const DWORD FIRST_PAUSE_MS = 50;
const DWORD LONGEST_PAUSE_MS = 1000;
const DWORD STOP_SLICE_MS = 50;

bool stop_asked(const std::atomic<int32_t>* stop) { return stop && stop->load() != 0; }

// Sleeps `ms`, in slices so that a stop is noticed soon.
void pause(DWORD ms, const std::atomic<int32_t>* stop) {
    for (DWORD slept = 0; slept < ms && !stop_asked(stop); slept += STOP_SLICE_MS)
        Sleep(ms - slept < STOP_SLICE_MS ? ms - slept : STOP_SLICE_MS);
}

bool is_gone(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

// Runs `attempt` until it succeeds, fails for another reason than a busy
// file, or the patience is spent. With `gone_is_done`, a file that is not
// there (any more) is success: what a delete wants. `what` and `path` only
// name it in the log.
template <typename Attempt>
bool retry_while_busy(const char* what, const std::wstring& path, bool gone_is_done,
                      Attempt attempt, DWORD& error, const std::atomic<int32_t>* stop) {
    error = 0;
    if (attempt()) return true;
    error = GetLastError();
    if (gone_is_done && is_gone(error)) {
        error = 0;
        return true;
    }
    if (!is_busy_file_error(error) || stop_asked(stop)) return false;
    log_line("file: %s %ls: busy (%lu), retrying", what, path.c_str(), error);
    DWORD waited = 0;
    DWORD next = FIRST_PAUSE_MS;
    int retries = 0;
    while (waited < BUSY_FILE_PATIENCE_MS && !stop_asked(stop)) {
        DWORD ms = BUSY_FILE_PATIENCE_MS - waited < next ? BUSY_FILE_PATIENCE_MS - waited : next;
        pause(ms, stop);
        waited += ms;
        ++retries;
        if (attempt()) {
            log_line("file: %s %ls: done after %d retries (%lu ms)", what, path.c_str(), retries,
                     waited);
            return true;
        }
        error = GetLastError();
        if (gone_is_done && is_gone(error)) {
            // Held while its deletion was pending: now it is gone.
            error = 0;
            return true;
        }
        if (!is_busy_file_error(error)) break;
        next = next * 2 > LONGEST_PAUSE_MS ? LONGEST_PAUSE_MS : next * 2;
    }
    log_line("!! file: %s %ls: still failing after %d retries (%lu)", what, path.c_str(), retries,
             error);
    return false;
}

bool is_folder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool is_busy_file_error(DWORD code) {
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
}

bool move_file_patiently(const std::wstring& from, const std::wstring& to, DWORD flags,
                         DWORD& error, const std::atomic<int32_t>* stop) {
    // A folder in the way refuses with "access denied" for good: nobody
    // holds it, so waiting would not help.
    if (is_folder(to)) {
        error = 0;
        if (MoveFileExW(from.c_str(), to.c_str(), flags)) return true;
        error = GetLastError();
        return false;
    }
    return retry_while_busy(
        "move", from, false,
        [&] { return MoveFileExW(from.c_str(), to.c_str(), flags) != FALSE; }, error, stop);
}

bool delete_file_patiently(const std::wstring& path, DWORD& error,
                           const std::atomic<int32_t>* stop) {
    if (is_folder(path)) {
        error = ERROR_ACCESS_DENIED;
        return false;
    }
    return retry_while_busy(
        "delete", path, true, [&] { return DeleteFileW(path.c_str()) != FALSE; }, error, stop);
}

bool remove_folder_patiently(const std::wstring& path, DWORD& error,
                             const std::atomic<int32_t>* stop) {
    return retry_while_busy(
        "remove", path, true, [&] { return RemoveDirectoryW(path.c_str()) != FALSE; }, error,
        stop);
}
