#pragma once
// Moves and deletes that outlast a security scanner or the search indexer.
//
// Right after a file is written, a real-time scanner (Windows Defender and
// the others) or the indexer may hold it open without delete sharing for a
// fraction of a second to a few seconds, most often a new executable. A move
// or delete of it then fails with ERROR_ACCESS_DENIED or
// ERROR_SHARING_VIOLATION although nothing is wrong. These calls retry such
// failures with a short back-off before they count as failures, and log it.
#include <atomic>
#include <cstdint>
#include <string>

#include <windows.h>

// The whole back-off of one call, in milliseconds.
extern const DWORD BUSY_FILE_PATIENCE_MS;

// True for the errors a file held by another program gives.
bool is_busy_file_error(DWORD code);

// MoveFileExW with `flags`. False with the last system error in `error`.
// A set `stop` (non-zero) ends the waiting early.
bool move_file_patiently(const std::wstring& from, const std::wstring& to, DWORD flags,
                         DWORD& error, const std::atomic<int32_t>* stop = nullptr);

// DeleteFileW. A file that is not there counts as deleted.
bool delete_file_patiently(const std::wstring& path, DWORD& error,
                           const std::atomic<int32_t>* stop = nullptr);

// RemoveDirectoryW of an empty folder. A folder that is not there counts as
// removed.
bool remove_folder_patiently(const std::wstring& path, DWORD& error,
                             const std::atomic<int32_t>* stop = nullptr);
