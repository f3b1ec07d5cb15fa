#include "launcher/download/file_index.h"

#include <cstdio>

#include <windows.h>

#include "launcher/core/win_handles.h"

const wchar_t FILE_INDEX_NAME[] = L"korval_files.idx";

namespace {

// Limits of the stored format: a line is read into 1024 bytes, and a longer
// physical line is taken in pieces, each judged as a line of its own.
const int LINE_BUFFER_BYTES = 1024;
const size_t MAX_PATH_BYTES = 599;
const size_t MAX_HASH_BYTES = 79;

bool read_decimal(const std::string& line, size_t& pos, uint64_t& value) {
    size_t start = pos;
    value = 0;
    while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9')
        value = value * 10 + static_cast<uint64_t>(line[pos++] - '0');
    return pos > start;
}

bool expect_tab(const std::string& line, size_t& pos) {
    if (pos >= line.size() || line[pos] != '\t') return false;
    ++pos;
    return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// path TAB size TAB time TAB hash; anything else is no record.
const size_t SHA256_HEX_DIGITS = 64;

bool parse_index_line(const std::string& line, std::string& path, IndexRecord& record) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos || tab == 0 || tab > MAX_PATH_BYTES) return false;
    path = line.substr(0, tab);
    size_t pos = tab + 1;
    if (!read_decimal(line, pos, record.size) || !expect_tab(line, pos) ||
        !read_decimal(line, pos, record.time) || !expect_tab(line, pos))
        return false;
    size_t start = pos;
    while (pos < line.size() && pos - start < MAX_HASH_BYTES && !is_blank(line[pos])) ++pos;
    // Every digest the launcher writes has 64 digits: a shorter one is a line
    // cut by a crash, and as a record it would make a correct file look out
    // of date and be fetched again instead of hashed.
    if (pos - start != SHA256_HEX_DIGITS) return false;
    record.hash = line.substr(start, pos - start);
    return true;
}

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
    FileIndex index;
    FILE* file = _wfopen(index_path.c_str(), L"rb");
    if (!file) return index;
    char buffer[LINE_BUFFER_BYTES];
    while (std::fgets(buffer, sizeof buffer, file)) {
        std::string path;
        IndexRecord record;
        if (parse_index_line(buffer, path, record)) index[path] = record;
    }
    std::fclose(file);
    return index;
}

std::string file_index_line(const ManifestEntry& entry, uint64_t time) {
    return entry.path + "\t" + std::to_string(entry.size) + "\t" + std::to_string(time) + "\t" +
           entry.hash + "\n";
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
        UniqueHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) return;
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
    if (!written) {
        DeleteFileW(temp.c_str());
        return;
    }
    MoveFileExW(temp.c_str(), index_path.c_str(), MOVEFILE_REPLACE_EXISTING);
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
