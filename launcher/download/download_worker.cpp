#include "download_worker.h"

#include <memory>
#include <string>

#include <shlobj.h>

#include "download_run.h"
#include "file_index.h"
#include "launcher/core/log.h"
#include "launcher/core/win_handles.h"
#include "launcher/net/http_client.h"
#include "launcher/net/sha256.h"

namespace {

const DWORD READ_BLOCK_BYTES = 1048576;
const DWORD PAUSE_SLICE_MS = 50;

enum class Attempt { Done, Failed, GiveUp };

std::string with_code(const char* prefix, unsigned long code) {
    return prefix + std::to_string(code) + ")";
}

void subtract(std::atomic<uint64_t>& counter, uint64_t amount) { counter.fetch_sub(amount); }

// Feeds the first `offset` bytes of the partial file to the hasher. False when
// they cannot all be read back: the file is then rewritten from byte 0.
bool rehash_existing(const std::wstring& part_path, uint64_t offset, Sha256Hasher& hasher) {
    UniqueHandle file(CreateFileW(part_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    std::unique_ptr<char[]> buffer(new char[READ_BLOCK_BYTES]);
    uint64_t left = offset;
    while (left > 0) {
        DWORD want = left < READ_BLOCK_BYTES ? static_cast<DWORD>(left) : READ_BLOCK_BYTES;
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer.get(), want, &got, nullptr) || got != want) return false;
        hasher.update(buffer.get(), got);
        left -= got;
    }
    return true;
}

// One attempt at one file. `new_size` is the partial file's size afterwards.
Attempt run_attempt(DownloadRun& run, const ManifestEntry& entry, const std::wstring& part_path,
                    std::string& error, uint64_t& new_size) {
    FileState part = query_file_state(part_path);
    uint64_t offset = part.exists && part.size <= entry.size ? part.size : 0;

    Sha256Hasher hasher;
    hasher.open();
    if (offset != 0 && !rehash_existing(part_path, offset, hasher)) {
        offset = 0;
        hasher.close();
        hasher.open();
    }

    UniqueHandle file(CreateFileW(part_path.c_str(), GENERIC_WRITE, 0, nullptr,
                                  offset == 0 ? CREATE_ALWAYS : OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        error = with_code("не удалось создать файл (", GetLastError());
        return Attempt::GiveUp;
    }
    // Whatever lies past the re-hashed bytes was never hashed: cut it off.
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN);
    SetEndOfFile(file.get());
    run.downloaded_bytes.fetch_add(offset);

    bool discard = false;
    bool ok = true;
    if (offset < entry.size)
        ok = http_get_to_file(entry.url, offset, file.get(), &hasher, run.downloaded_bytes,
                              run.abort, error, discard);
    file.reset();
    FileState written = query_file_state(part_path);
    new_size = written.exists ? written.size : 0;

    if (ok) {
        if (new_size == entry.size && hasher.hex_digest() == entry.hash) return Attempt::Done;
        error = "файл повреждён при скачивании (размер " + std::to_string(new_size) + ")";
    }
    subtract(run.downloaded_bytes, new_size);
    // A complete but wrong file, or one the server would not resume, is no
    // base for the next attempt; an interrupted one is.
    if (ok || discard) DeleteFileW(part_path.c_str());
    return Attempt::Failed;
}

// Sleeps `pause_ms`, but wakes early when the run is told to stop.
void pause_unless_aborted(const DownloadRun& run, DWORD pause_ms) {
    for (DWORD slept = 0; slept < pause_ms && run.abort.load() == 0; slept += PAUSE_SLICE_MS)
        Sleep(pause_ms - slept < PAUSE_SLICE_MS ? pause_ms - slept : PAUSE_SLICE_MS);
}

void create_parent_folder(const std::wstring& path) {
    size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return;
    SHCreateDirectoryExW(nullptr, path.substr(0, slash).c_str(), nullptr);
}

// Downloads one entry and moves it into place. False when the worker gives up
// on it, with the reason in `error`.
bool download_entry(DownloadRun& run, ManifestEntry& entry, std::string& error) {
    const std::wstring part_path = entry.local_path + L".part";
    create_parent_folder(entry.local_path);
    if (run.abort.load() != 0) {
        error = "остановлено";
        return false;
    }
    uint64_t new_size = 0;
    DWORD pause = FIRST_RETRY_PAUSE_MS;
    for (int attempt = 1;; ++attempt) {
        Attempt result = run_attempt(run, entry, part_path, error, new_size);
        if (result == Attempt::Done) break;
        if (result == Attempt::GiveUp || run.abort.load() != 0) return false;
        log_line("download: %s attempt %d: %s", entry.path.c_str(), attempt, error.c_str());
        pause_unless_aborted(run, pause);
        if (attempt == MAX_FILE_ATTEMPTS) return false;
        pause += FIRST_RETRY_PAUSE_MS;
        if (run.abort.load() != 0) {
            error = "остановлено";
            return false;
        }
    }

    if (!MoveFileExW(part_path.c_str(), entry.local_path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DWORD code = GetLastError();
        subtract(run.downloaded_bytes, new_size);
        error = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION
                    ? std::string("файл занят — закройте игру")
                    : with_code("не удалось сохранить файл (", code);
        return false;
    }
    FileState placed = query_file_state(entry.local_path);
    if (placed.exists) entry.verified_time.store(placed.time);
    run.files_done.fetch_add(1);
    return true;
}

}  // namespace

DWORD WINAPI download_worker(LPVOID param) {
    DownloadRun& run = *static_cast<DownloadRun*>(param);
    for (;;) {
        if (run.abort.load() != 0) return 0;
        int32_t i = run.next_index.fetch_add(1);
        if (i < 0 || static_cast<size_t>(i) >= run.queue.size()) return 0;
        ManifestEntry& entry = *run.queue[static_cast<size_t>(i)];
        std::string error;
        if (!download_entry(run, entry, error)) {
            // A stop or another worker's failure is not this file's fault.
            if (run.abort.load() == 0)
                record_first_error(run, "Не удалось загрузить файл '" + entry.path + "': " +
                                            error + ".");
            return 0;
        }
    }
}
