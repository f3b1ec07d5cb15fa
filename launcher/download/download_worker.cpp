#include "launcher/download/download_worker.h"

#include <string>

#include <shlobj.h>

#include "launcher/core/busy_file.h"
#include "launcher/core/log.h"
#include "launcher/blocks/block_transfer.h"
#include "launcher/download/download_run.h"
#include "launcher/download/file_index.h"
#include "launcher/download/part_file.h"
#include "launcher/download/part_transfer.h"
#include "launcher/net/sha256.h"

namespace {

const DWORD PAUSE_SLICE_MS = 50;

enum class Attempt { Done, Failed, GiveUp };

void subtract(std::atomic<uint64_t>& counter, uint64_t amount) { counter.fetch_sub(amount); }

std::string corrupted(uint64_t size) {
    return "файл повреждён при скачивании (размер " + std::to_string(size) + ")";
}

enum class FromBlocks { Built, Whole, Stopped };

// Builds the empty partial from the player's older copy of the file. Built
// when it holds the new file, verified against the manifest's hash; anything
// unexpected takes back what it added to the run's figures, empties the
// partial and leaves the file to the whole download, after a log line.
FromBlocks build_from_blocks(DownloadRun& run, const ManifestEntry& entry, PartFile& part,
                             Sha256Hasher& hasher, BlockCounts& counts) {
    std::string why;
    const BlockBuild built =
        build_part_from_blocks(entry, part.file.get(), hasher, run, counts, why);
    if (built == BlockBuild::Stopped) return FromBlocks::Stopped;
    if (built == BlockBuild::Complete) {
        if (open_file_size(part.file.get()) == entry.size && hasher.hex_digest() == entry.hash) {
            log_line("download: %s from local blocks: %llu bytes reused, %llu fetched",
                     entry.path.c_str(), static_cast<unsigned long long>(counts.reused),
                     static_cast<unsigned long long>(counts.fetched));
            return FromBlocks::Built;
        }
        why = "block build: the built file differs from the manifest's hash";
    }
    log_line("download: %s whole instead: %s", entry.path.c_str(), why.c_str());
    subtract(run.downloaded_bytes, counts.fetched);
    subtract(run.reused_bytes, counts.reused);
    counts = BlockCounts{};
    // A partial that cannot be emptied comes out too long below and is
    // thrown away as corrupt.
    LARGE_INTEGER start;
    start.QuadPart = 0;
    if (SetFilePointerEx(part.file.get(), start, nullptr, FILE_BEGIN))
        SetEndOfFile(part.file.get());
    hasher.open();
    return FromBlocks::Whole;
}

// One attempt at one file. `new_size` is what the attempt counts in the
// run's downloaded bytes: the partial file's size afterwards, or the bytes
// fetched when the file was built from local blocks. `blocks_allowed` goes
// false once a build from blocks fell through, so the file is not tried so
// again.
Attempt run_attempt(DownloadRun& run, const ManifestEntry& entry, const std::wstring& part_path,
                    std::string& error, uint64_t& new_size, bool& blocks_allowed) {
    new_size = 0;
    Sha256Hasher hasher;
    hasher.open();
    PartFile part;
    const PartOpen opened = open_part_file(part_path, entry.size, hasher, run.abort, part, error);
    if (opened == PartOpen::Failed) return Attempt::GiveUp;
    if (opened == PartOpen::Stopped) {
        error = "остановлено";
        return Attempt::Failed;
    }
    if (opened == PartOpen::Unwritable) return Attempt::Failed;
    run.downloaded_bytes.fetch_add(part.offset);

    BlockCounts counts;
    FromBlocks from = FromBlocks::Whole;
    if (part.offset == 0 && blocks_allowed && block_build_possible(entry)) {
        from = build_from_blocks(run, entry, part, hasher, counts);
        if (from == FromBlocks::Stopped) {
            // What is written is a prefix of the new file: a later run resumes it.
            subtract(run.downloaded_bytes, counts.fetched);
            subtract(run.reused_bytes, counts.reused);
            error = "остановлено";
            return Attempt::Failed;
        }
        blocks_allowed = from == FromBlocks::Built;
    }

    Transfer result = Transfer::Complete;
    uint64_t arrived = 0;
    if (from != FromBlocks::Built && part.offset < entry.size)
        result = fetch_into_part(entry, part.offset, part.file.get(), hasher, run, error, arrived);
    new_size = from == FromBlocks::Built ? counts.fetched : open_file_size(part.file.get());

    bool keep = result == Transfer::Failed;
    if (result == Transfer::Complete) {
        // A file built from blocks was verified as it was finished.
        if (from == FromBlocks::Built ||
            (new_size == entry.size && hasher.hex_digest() == entry.hash)) {
            // The index vouches for a placed file by its size and time alone,
            // so its bytes must be on the disk before its name is.
            if (FlushFileBuffers(part.file.get())) return Attempt::Done;
            const DWORD code = GetLastError();
            error = with_error_code("не удалось записать на диск (", code);
            keep = true;
        } else {
            error = corrupted(new_size);
        }
    } else if (result == Transfer::TooLong) {
        error = corrupted(arrived);
    }
    part.file.reset();
    subtract(run.downloaded_bytes, new_size);
    subtract(run.reused_bytes, counts.reused);
    // A complete but wrong file, one the server would not resume or one that
    // came too long is no base for the next attempt; an interrupted one is.
    DWORD code = 0;
    if (!keep && !delete_file_patiently(part_path, code, &run.abort))
        log_line("!! download: cannot delete %s.part (%lu)", entry.path.c_str(), code);
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
    bool blocks_allowed = true;
    DWORD pause = FIRST_RETRY_PAUSE_MS;
    for (int attempt = 1;; ++attempt) {
        Attempt result = run_attempt(run, entry, part_path, error, new_size, blocks_allowed);
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

    DWORD code = 0;
    if (!move_file_patiently(part_path, entry.local_path, MOVEFILE_REPLACE_EXISTING, code,
                             &run.abort)) {
        subtract(run.downloaded_bytes, new_size);
        error = is_busy_file_error(code)
                    ? std::string("файл занят — закройте игру")
                    : with_error_code("не удалось сохранить файл (", code);
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
