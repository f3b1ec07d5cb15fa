#pragma once
// One attempt's transfer: the rest of a game file from the content server,
// appended to its open partial file and hashed as it arrives, never more
// bytes than the manifest gives the file.
#include <cstdint>
#include <string>

#include <windows.h>

struct DownloadRun;
struct ManifestEntry;
class Sha256Hasher;

enum class Transfer {
    Complete,  // the server's whole answer is in the file
    Failed,    // network, status, disk or stop; what arrived may be resumed
    Restart,   // the server ignored the range: the partial is no base
    TooLong,   // more bytes than the file has: the download is corrupt
};

// Requests `entry` from `offset` on and appends it to `file` (positioned at
// `offset`), feeding `hasher` and counting each written byte into the run's
// downloaded bytes. Stops with "остановлено" when the run's abort flag is set
// before a read. On TooLong, `arrived` is the size the file would have had.
Transfer fetch_into_part(const ManifestEntry& entry, uint64_t offset, HANDLE file,
                         Sha256Hasher& hasher, DownloadRun& run, std::string& error,
                         uint64_t& arrived);

// Writes all of `data` to the open partial `file`; `written` says how much
// landed, also when a write fails (false, with the system's code).
bool write_to_part(HANDLE file, const char* data, DWORD size, DWORD& written, DWORD& code);
