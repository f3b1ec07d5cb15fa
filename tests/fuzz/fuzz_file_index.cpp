// The local file index as read from the disk: any bytes as the file's
// content. Every record read back must be one the launcher could have
// written, and writing the records again must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fuzz_check.h"
#include "launcher/download/file_index.h"

namespace {

FileIndex read_index_text(const std::string& text) {
    // fmemopen refuses a zero-length buffer; an empty file is an empty index.
    if (text.empty()) return FileIndex();
    std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
    FUZZ_CHECK(file != nullptr);
    FileIndex index = read_file_index(file);
    std::fclose(file);
    return index;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const FileIndex index = read_index_text(fuzz_text(data, size));

    std::string rewritten;
    for (const auto& [path, record] : index) {
        FUZZ_CHECK(!path.empty() && path.size() < 600);
        FUZZ_CHECK(path.find('\t') == std::string::npos && path.find('\n') == std::string::npos);
        FUZZ_CHECK(record.hash.size() == 64);
        ManifestEntry entry;
        entry.path = path;
        entry.size = record.size;
        entry.hash = record.hash;
        rewritten += file_index_line(entry, record.time);
    }
    const FileIndex again = read_index_text(rewritten);
    FUZZ_CHECK(again.size() == index.size());
    for (const auto& [path, record] : index) {
        auto found = again.find(path);
        FUZZ_CHECK(found != again.end());
        FUZZ_CHECK(found->second.size == record.size && found->second.time == record.time &&
                   found->second.hash == record.hash);
    }
    return 0;
}
