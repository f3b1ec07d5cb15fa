#pragma once
// The local file index "korval_files.idx" in the install folder: for each file
// verified in an earlier run, the size and last-write time it had when its
// content matched the manifest. A file that still has both is trusted without
// hashing; a changed or never verified one is hashed again.
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "launcher/download/manifest.h"

extern const wchar_t FILE_INDEX_NAME[];  // "korval_files.idx"

struct IndexRecord {
    uint64_t size = 0;
    uint64_t time = 0;
    std::string hash;
};

// Keyed by the manifest path, ordered by bytes.
using FileIndex = std::map<std::string, IndexRecord>;

struct FileState {
    bool exists = false;  // false also for a directory or a failed query
    uint64_t size = 0;
    uint64_t time = 0;    // last-write time, 100 ns units since 1601
};

FileState query_file_state(const std::wstring& path);

// A missing or unreadable file is an empty index; malformed lines are skipped.
FileIndex load_file_index(const std::wstring& index_path);

// The records of an open index file, read to its end.
FileIndex read_file_index(std::FILE* file);

// Rewrites the index with the entries whose verified_time is set, in manifest
// order, through index_path + ".tmp" and a replacing move. When the new text
// cannot be written in full the old index stays as it was.
void save_file_index(const std::wstring& index_path, const std::vector<ManifestEntry>& entries);

// One line's text for an entry: path TAB size TAB time TAB hash LF.
std::string file_index_line(const ManifestEntry& entry, uint64_t time);

enum class EntryClass { Trusted, NeedsHash, NeedsDownload };

struct Classification {
    EntryClass kind = EntryClass::NeedsDownload;
    uint64_t time = 0;  // the local file's time, for Trusted
};

// A missing file or one of the wrong size is downloaded without hashing; one
// whose size and time match its index line is trusted when the line carries
// the manifest's hash and out of date otherwise; any other file is hashed.
Classification classify_entry(const ManifestEntry& entry, const FileIndex& index);
