// The index's text: reading its lines and writing one. Free of any system
// call, so that the reader also builds natively for the fuzzers.
#include "launcher/download/file_index.h"

#include <cstdio>

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

}  // namespace

FileIndex read_file_index(std::FILE* file) {
    FileIndex index;
    char buffer[LINE_BUFFER_BYTES];
    while (std::fgets(buffer, sizeof buffer, file)) {
        std::string path;
        IndexRecord record;
        if (parse_index_line(buffer, path, record)) index[path] = record;
    }
    return index;
}

std::string file_index_line(const ManifestEntry& entry, uint64_t time) {
    return entry.path + "\t" + std::to_string(entry.size) + "\t" + std::to_string(time) + "\t" +
           entry.hash + "\n";
}
