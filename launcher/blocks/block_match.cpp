#include "launcher/blocks/block_match.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include <windows.h>
#include <bcrypt.h>

#include "launcher/core/win_handles.h"
#include "launcher/blocks/block_kinds.h"
#include "launcher/download/manifest.h"
#include "launcher/net/sha256.h"

namespace {

// Four plans of the largest files take some 400 MB: a 32-bit launcher may find
// no free block of the size one table needs. The file then comes whole.
const char NO_MEMORY[] = "block match: not enough memory for the plan";

const size_t READ_BYTES = 1048576;
// An old copy that holds nothing of the new file is found out from a few
// places before the whole of it is searched (see probe_for_pairs).
const uint64_t PROBE_BYTES = 1048576;
const uint64_t PROBES = 32;
// The filter is larger than the processor's caches: its bits are asked for
// this many offsets ahead of their test.
const size_t AHEAD = 8;
// Below this one thread searches the whole copy.
const uint64_t SPLIT_BYTES = 8388608;

uint64_t strong_part(uint64_t strong, uint32_t bytes) {
    return bytes >= 8 ? strong : strong & ((1ull << (8 * bytes)) - 1);
}

// The hash service opened once for a whole search: one provider per block
// would cost more than the hashing.
class StrongHasher {
public:
    StrongHasher() {
        if (BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0)
            algorithm_ = nullptr;
    }
    ~StrongHasher() {
        if (algorithm_) BCryptCloseAlgorithmProvider(algorithm_, 0);
    }
    StrongHasher(const StrongHasher&) = delete;
    StrongHasher& operator=(const StrongHasher&) = delete;

    // The digest's first 8 bytes, the first one lowest.
    bool sum(const unsigned char* data, size_t size, uint32_t block_size, uint64_t& strong) {
        BCRYPT_HASH_HANDLE hash = nullptr;
        if (!algorithm_ || BCryptCreateHash(algorithm_, &hash, nullptr, 0, nullptr, 0, 0) < 0)
            return false;
        static const unsigned char zeros[4096] = {};
        bool ok = BCryptHashData(hash, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0) >= 0;
        for (size_t left = block_size - size; ok && left > 0;) {
            const size_t piece = std::min(left, sizeof zeros);
            ok = BCryptHashData(hash, const_cast<PUCHAR>(zeros), static_cast<ULONG>(piece), 0) >= 0;
            left -= piece;
        }
        unsigned char digest[32];
        ok = ok && BCryptFinishHash(hash, digest, sizeof digest, 0) >= 0;
        BCryptDestroyHash(hash);
        if (!ok) return false;
        strong = 0;
        for (size_t i = 8; i-- > 0;) strong = strong << 8 | digest[i];
        return true;
    }

private:
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
};

// One search of the old copy: what it found so far (per kind, where the
// copy holds it) is its own, so that two can run at once.
struct Search {
    const BlockMap& map;
    const BlockKinds& table;
    HANDLE file;
    uint64_t local_size;
    const std::atomic<int32_t>& stop;
    std::vector<uint64_t> sources;
    StrongHasher hasher;
    std::string error;

    Search(const BlockMap& m, const BlockKinds& t, HANDLE f, uint64_t size,
           const std::atomic<int32_t>& s)
        : map(m), table(t), file(f), local_size(size), stop(s),
          sources(t.kinds.size(), BLOCK_NOT_FOUND) {}
};

// Reads at an offset without the handle's file position, so that two
// searches may read one handle at once.
bool read_at(HANDLE file, uint64_t offset, unsigned char* data, DWORD size, DWORD& got) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    got = 0;
    return ReadFile(file, data, size, &got, &at) != 0 || GetLastError() == ERROR_HANDLE_EOF;
}

// Offers the two windows at `window` (the old copy's `offset`) to every
// pair of the new file with their weak checksums. 1 when a pair took them,
// 0 when none, -1 when hashing failed.
int offer_pair(Search& s, const unsigned char* window, uint64_t key, uint64_t offset) {
    size_t first = 0, last = 0;
    if (!find_block_pairs(s.table, key, first, last)) return 0;
    bool missing = false;
    for (size_t i = first; i < last && !missing; ++i)
        missing = s.sources[s.table.pairs[i].first] == BLOCK_NOT_FOUND ||
                  s.sources[s.table.pairs[i].second] == BLOCK_NOT_FOUND;
    if (!missing) return 0;
    const uint32_t block = s.map.block_size;
    uint64_t strong[2] = {};
    bool hashed[2] = {false, false};
    for (size_t i = first; i < last; ++i) {
        const uint32_t halves[2] = {s.table.pairs[i].first, s.table.pairs[i].second};
        bool agree = true;
        for (int half = 0; half < 2 && agree; ++half) {
            if (!hashed[half]) {
                if (!s.hasher.sum(window + half * block, block, block, strong[half])) return -1;
                strong[half] = strong_part(strong[half], s.map.strong_bytes);
                hashed[half] = true;
            }
            agree = s.table.kinds[halves[half]].strong == strong[half];
        }
        if (!agree) continue;
        for (int half = 0; half < 2; ++half)
            if (s.sources[halves[half]] == BLOCK_NOT_FOUND)
                s.sources[halves[half]] = offset + half * block;
        return 1;
    }
    return 0;
}

// Rolls the pair of weak checksums over every offset from `start` to
// before `end` (where two whole blocks still follow), and offers each. Sets
// `found` when a pair was taken.
bool scan_range(Search& s, uint64_t start, uint64_t end, bool& found) {
    const uint32_t block = s.map.block_size;
    const size_t span = 2 * size_t{block};
    if (s.local_size < span || start > s.local_size - span) return true;
    end = std::min(end, s.local_size - span + 1);
    const uint64_t limit = end - 1 + span;  // one past the last byte any window needs
    std::vector<unsigned char> buffer(READ_BYTES + span);
    size_t have = 0, pos = 0;
    uint64_t base = start;  // file offset of buffer[0]
    RollingSum first, second;
    bool rolled = false;
    while (base + pos < end) {
        if (pos + span >= have && base + have < limit) {
            // The next byte to roll in is not read yet: keep the window, read on.
            if (s.stop.load() != 0) {
                s.error = "block match: stopped";
                return false;
            }
            std::memmove(buffer.data(), buffer.data() + pos, have - pos);
            base += pos;
            have -= pos;
            pos = 0;
            const DWORD want = static_cast<DWORD>(
                std::min<uint64_t>(buffer.size() - have, limit - (base + have)));
            DWORD got = 0;
            if (!read_at(s.file, base + have, buffer.data() + have, want, got) || got == 0) {
                s.error = got == 0 ? "block match: the local file changed while it was read"
                                   : "block match: cannot read the local file (" +
                                         std::to_string(GetLastError()) + ")";
                return false;
            }
            have += got;
            continue;
        }
        if (!rolled) {
            first.reset(buffer.data() + pos, block, block);
            second.reset(buffer.data() + pos + block, block, block);
            rolled = true;
        }
        // The keys of the next few offsets first, their filter bits on the
        // way from memory while the next key is worked out.
        const size_t batch = pos + span + AHEAD <= have && base + pos + AHEAD <= end ? AHEAD : 1;
        uint64_t keys[AHEAD];
        for (size_t k = 0; k < batch; ++k) {
            if (k > 0) {
                first.roll(buffer[pos + k - 1], buffer[pos + k - 1 + block]);
                second.roll(buffer[pos + k - 1 + block], buffer[pos + k - 1 + span]);
            }
            keys[k] = block_pair_key(weak_part(first.value(), s.map.weak_bytes),
                                     weak_part(second.value(), s.map.weak_bytes));
            prefetch_block_pairs(s.table, keys[k]);
        }
        int taken = 0;
        size_t k = 0;
        for (; k < batch && taken == 0; ++k)
            taken = offer_pair(s, buffer.data() + pos + k, keys[k], base + pos + k);
        if (taken < 0) {
            s.error = "block match: the hash service failed";
            return false;
        }
        if (taken > 0) {
            // What follows two found blocks is most likely the next two.
            found = true;
            pos += k - 1 + span;
            rolled = false;
            continue;
        }
        pos += batch - 1;
        if (pos + span == have) break;
        first.roll(buffer[pos], buffer[pos + block]);
        second.roll(buffer[pos + block], buffer[pos + span]);
        ++pos;
    }
    return true;
}

// Searching an old copy that holds nothing of the new file costs as much as
// searching one that holds all of it, and buys nothing: a large copy is
// first searched in PROBES places spread over it. One that holds none of
// the new file's pairs there is taken as unrelated. A stretch of reusable
// content longer than the gap between two places always reaches into one,
// so what this can miss is less than a 1/PROBES of the file.
bool probe_for_pairs(Search& s, bool& found) {
    const uint64_t step = s.local_size / PROBES;
    for (uint64_t i = 0; i < PROBES && !found; ++i)
        if (!scan_range(s, i * step, i * step + PROBE_BYTES, found)) return false;
    return true;
}

struct HalfScan {
    Search* search;
    uint64_t start;
    bool found = false;
    bool ok = false;
};

// Nothing may leave a thread of the system's through its entry, an
// exception least of all: it would end the whole launcher.
DWORD WINAPI scan_second_half(void* param) {
    HalfScan* half = static_cast<HalfScan*>(param);
    try {
        half->ok = scan_range(*half->search, half->start, half->search->local_size, half->found);
    } catch (const std::bad_alloc&) {
        half->search->error = NO_MEMORY;
        half->ok = false;
    }
    return 0;
}

// The whole copy, in two halves at once where the machine has the cores:
// the search is bound by the processor, and an update of one large archive
// leaves the other download workers idle.
bool scan_whole(Search& s) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    bool found = false;
    if (s.local_size < SPLIT_BYTES || system.dwNumberOfProcessors < 2)
        return scan_range(s, 0, s.local_size, found);
    Search other(s.map, s.table, s.file, s.local_size, s.stop);
    other.sources = s.sources;
    HalfScan half{&other, s.local_size / 2};
    UniqueHandle thread(CreateThread(nullptr, 0, scan_second_half, &half, 0, nullptr));
    if (!thread.valid()) return scan_range(s, 0, s.local_size, found);
    const bool ok = scan_range(s, 0, half.start, found);
    WaitForSingleObject(thread.get(), INFINITE);
    if (!ok) return false;
    if (!half.ok) {
        s.error = other.error;
        return false;
    }
    for (size_t i = 0; i < s.sources.size(); ++i)
        if (s.sources[i] == BLOCK_NOT_FOUND) s.sources[i] = other.sources[i];
    return true;
}

// Whether the old copy holds block `index` of the new file at `offset`:
// read there and compared with one block's sums alone, for a place its
// neighbour's find already points to.
bool check_block_at(Search& s, size_t index, uint64_t offset, std::vector<unsigned char>& bytes) {
    const uint32_t block = s.map.block_size;
    const uint64_t length = std::min<uint64_t>(block, s.map.file_size - index * uint64_t{block});
    const uint32_t kind = s.table.block_kind[index];
    if (s.sources[kind] != BLOCK_NOT_FOUND || offset + length > s.local_size) return true;
    DWORD got = 0;
    if (!read_at(s.file, offset, bytes.data(), static_cast<DWORD>(length), got) ||
        got != length) {
        s.error = "block match: cannot read the local file (" + std::to_string(GetLastError()) + ")";
        return false;
    }
    RollingSum sum;
    sum.reset(bytes.data(), static_cast<size_t>(length), block);
    if (weak_part(sum.value(), s.map.weak_bytes) != s.table.kinds[kind].weak) return true;
    uint64_t strong = 0;
    if (!s.hasher.sum(bytes.data(), static_cast<size_t>(length), block, strong)) {
        s.error = "block match: the hash service failed";
        return false;
    }
    if (strong_part(strong, s.map.strong_bytes) == s.table.kinds[kind].strong)
        s.sources[kind] = offset;
    return true;
}

// The pair search misses the last block of an odd run of unchanged blocks
// and a short last block: each block next to a found one is tried alone
// where the old copy holds the content after (or before) that find, and a
// short last block at the old copy's very end. A block between two changed
// ones stays missing.
bool extend_found_blocks(Search& s) {
    const uint32_t block = s.map.block_size;
    const size_t count = s.map.blocks.size();
    std::vector<unsigned char> bytes(block);
    const auto source = [&](size_t i) { return s.sources[s.table.block_kind[i]]; };
    for (size_t i = 0; i + 1 < count; ++i)
        if (source(i) != BLOCK_NOT_FOUND && !check_block_at(s, i + 1, source(i) + block, bytes))
            return false;
    for (size_t i = count; i-- > 1;)
        if (source(i) != BLOCK_NOT_FOUND && source(i) >= block &&
            !check_block_at(s, i - 1, source(i) - block, bytes))
            return false;
    const uint64_t tail = s.map.file_size % block;
    return tail == 0 || s.local_size < tail ||
           check_block_at(s, count - 1, s.local_size - tail, bytes);
}

bool plan_within_memory(HANDLE file, const BlockMap& map, const std::atomic<int32_t>& stop,
                        BlockPlan& plan, std::string& error) {
    plan = BlockPlan{};
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        error = "block match: cannot read the local file's size (" +
                std::to_string(GetLastError()) + ")";
        return false;
    }
    BlockKinds table;
    build_block_kinds(map, table);
    Search search(map, table, file, static_cast<uint64_t>(size.QuadPart), stop);
    const bool large = search.local_size >= 2 * PROBES * PROBE_BYTES;
    bool found = false;
    if ((large && !probe_for_pairs(search, found)) ||
        ((!large || found) && (!scan_whole(search) || !extend_found_blocks(search)))) {
        error = search.error;
        return false;
    }
    std::vector<uint64_t> sources(map.blocks.size());
    for (size_t i = 0; i < sources.size(); ++i) sources[i] = search.sources[table.block_kind[i]];
    make_block_plan(map.file_size, map.block_size, sources, plan);
    return true;
}

}  // namespace

bool accept_block_map(const std::string& bytes, const ManifestEntry& entry, BlockMap& map,
                      std::string& error) {
    if (entry.blocks.url.empty()) {
        error = "block map: the entry names none";
        return false;
    }
    if (bytes.size() != entry.blocks.size) {
        error = "block map: " + std::to_string(bytes.size()) + " bytes, the manifest says " +
                std::to_string(entry.blocks.size);
        return false;
    }
    if (sha256_hex(bytes) != entry.blocks.hash) {
        error = "block map: content differs from the manifest's hash";
        return false;
    }
    try {
        return read_block_map(bytes, entry.size, entry.blocks.block_size, map, error);
    } catch (const std::bad_alloc&) {
        map = BlockMap{};
        error = NO_MEMORY;
        return false;
    }
}

bool block_strong_sum(const unsigned char* data, size_t size, uint32_t block_size,
                      uint64_t& strong) {
    StrongHasher hasher;
    return hasher.sum(data, size, block_size, strong);
}

bool plan_from_local_file(const std::wstring& local_path, const BlockMap& map,
                          const std::atomic<int32_t>& stop, BlockPlan& plan, std::string& error) {
    UniqueHandle file(CreateFileW(local_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) {
        error = "block match: cannot open the local file (" + std::to_string(GetLastError()) + ")";
        return false;
    }
    return plan_from_open_file(file.get(), map, stop, plan, error);
}

bool plan_from_open_file(HANDLE file, const BlockMap& map, const std::atomic<int32_t>& stop,
                         BlockPlan& plan, std::string& error) {
    try {
        return plan_within_memory(file, map, stop, plan, error);
    } catch (const std::bad_alloc&) {
        plan = BlockPlan{};
        error = NO_MEMORY;
        return false;
    }
}

