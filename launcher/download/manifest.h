#pragma once
// The game file manifest: the content server's list of every game file with
// its path, SHA-256 and size, turned into the records the game files job and
// its download workers work on.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// A 64-bit value that one worker stores while the job thread reads it (the
// periodic index save). Copyable so that entries can live in a vector; copies
// are made only while no other thread can see the entry.
class SharedTime {
public:
    SharedTime() = default;
    SharedTime(const SharedTime& other) : value_(other.load()) {}
    SharedTime& operator=(const SharedTime& other) {
        store(other.load());
        return *this;
    }
    uint64_t load() const { return value_.load(); }
    void store(uint64_t value) { value_.store(value); }

private:
    std::atomic<uint64_t> value_{0};
};

// Where an entry's block description is and what it must be
// (docs/block_maps.md); `url` is empty for an entry without one.
struct BlockMapRef {
    std::string url;   // basePath + "/" + "blocksUrl": the server path to request
    uint64_t size = 0;
    std::string hash;  // 64 lower-case hex digits
    uint32_t block_size = 0;
};

struct ManifestEntry {
    std::string path;        // the manifest's "url" as written: relative, "/" separators
    std::string url;         // basePath + "/" + path: the server path to request
    std::string hash;        // 64 bytes, lower-cased
    uint64_t size = 0;
    std::wstring local_path;  // install folder + "\" + path with "\" separators
    // Last-write time (FILETIME as one count) at which the local file was found
    // correct in this run; 0 until then. Only verified entries are indexed.
    SharedTime verified_time;
    BlockMapRef blocks;
};

// Appends the manifest's entries to `entries`. False with a message for the
// user in `error` when the manifest is damaged or lists no file; entries
// appended before a damaged one stay, and the caller discards them.
bool parse_manifest(const std::string& text, const std::wstring& install_dir,
                    std::vector<ManifestEntry>& entries, std::string& error);

// An unsigned decimal after optional leading blanks, up to the first
// non-digit; 0 when nothing is readable.
uint64_t parse_decimal_u64(const std::string& text);
