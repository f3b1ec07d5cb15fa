#include "launcher/download/file_index.h"

#include <cstdio>

#include <windows.h>

#include "launcher/core/busy_file.h"
#include "launcher/core/log.h"
#include "launcher/core/win_handles.h"

namespace {

uint64_t filetime_value(const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

}  // namespace

FileState query_file_state(const std::wstring& path) {
    FileState state;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return state;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return state;
    state.exists = true;
    state.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    state.time = filetime_value(data.ftLastWriteTime);
    return state;
}

FileIndex load_file_index(const std::wstring& index_path) {
    FILE* file = _wfopen(index_path.c_str(), L"rb");
    if (!file) return FileIndex();
    FileIndex index = read_file_index(file);
    std::fclose(file);
    return index;
}

void save_file_index(const std::wstring& index_path, const std::vector<ManifestEntry>& entries) {
    std::string text;
    for (const ManifestEntry& entry : entries) {
        // One load per entry: a worker may set it meanwhile.
        uint64_t time = entry.verified_time.load();
        if (time != 0) text += file_index_line(entry, time);
    }
    const std::wstring temp = index_path + L".tmp";
    bool written = false;
    {
        // Readers (scanners, indexers) may look; nobody may change it.
        UniqueHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            log_line("!! download: cannot write the index (%lu)", GetLastError());
            return;
        }
        DWORD done = 0;
        written = text.empty() ||
                  (WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &done,
                             nullptr) &&
                   done == text.size());
        // The move below is what makes the new text the index: were its bytes
        // still in the cache at a power cut, the index would vouch with lines
        // that never reached the disk, or be empty.
        written = written && FlushFileBuffers(file.get());
    }
    // A cut index would carry cut hashes, and a cut hash on a matching line
    // makes a correct file look out of date: better the old index than that.
    DWORD code = 0;
    if (!written) {
        log_line("!! download: cannot write the index");
        delete_file_patiently(temp, code);
        return;
    }
    // Until the move, the old index stays; it vouches only for files it knew.
    if (!move_file_patiently(temp, index_path, MOVEFILE_REPLACE_EXISTING, code))
        log_line("!! download: cannot save the index (%lu)", code);
}

Classification classify_entry(const ManifestEntry& entry, const FileIndex& index) {
    Classification result;
    FileState state = query_file_state(entry.local_path);
    if (!state.exists || state.size != entry.size) return result;
    auto found = index.find(entry.path);
    if (found != index.end() && found->second.size == state.size &&
        found->second.time == state.time) {
        if (found->second.hash == entry.hash) {
            result.kind = EntryClass::Trusted;
            result.time = state.time;
        }
        return result;
    }
    result.kind = EntryClass::NeedsHash;
    return result;
}
