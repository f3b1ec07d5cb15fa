#include "launcher/download/block_match.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <windows.h>
#include <bcrypt.h>

#include "launcher/core/win_handles.h"
#include "launcher/download/manifest.h"
#include "launcher/net/sha256.h"

namespace {

const uint64_t NOT_FOUND = ~0ull;
const size_t READ_BYTES = 1048576;

// One block content of the new file; equal blocks (the zero padding of an
// archive above all) share one, so each is looked for once.
struct BlockKind {
    uint32_t weak = 0;
    uint64_t strong = 0;
    uint64_t source = NOT_FOUND;
};

struct KindTable {
    std::vector<BlockKind> kinds;        // sorted by weak, then strong
    std::vector<uint32_t> block_kind;    // per block of the new file
    std::vector<uint64_t> filter;        // a bit per weak hash, to skip most offsets at once
    int filter_shift = 16;
};

// The weak checksum's halves are sums, far from uniform: mixed before they
// pick a bit.
uint32_t filter_bit(uint32_t weak, int shift) { return (weak * 2654435761u) >> shift; }

void build_table(const BlockMap& map, KindTable& table) {
    std::vector<uint32_t> order(map.blocks.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
        const BlockSum& a = map.blocks[x];
        const BlockSum& b = map.blocks[y];
        return a.weak != b.weak ? a.weak < b.weak : a.strong < b.strong;
    });
    table.block_kind.assign(map.blocks.size(), 0);
    for (uint32_t block : order) {
        const BlockSum& sum = map.blocks[block];
        if (table.kinds.empty() || table.kinds.back().weak != sum.weak ||
            table.kinds.back().strong != sum.strong)
            table.kinds.push_back(BlockKind{sum.weak, sum.strong, NOT_FOUND});
        table.block_kind[block] = static_cast<uint32_t>(table.kinds.size() - 1);
    }
    int bits = 16;
    while (bits < 24 && (size_t{1} << bits) < table.kinds.size() * 16) ++bits;
    table.filter_shift = 32 - bits;
    table.filter.assign((size_t{1} << bits) / 64, 0);
    for (const BlockKind& kind : table.kinds) {
        const uint32_t bit = filter_bit(kind.weak, table.filter_shift);
        table.filter[bit / 64] |= 1ull << (bit % 64);
    }
}

// The hash service opened once for the whole scan: one provider per block
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
        for (size_t i = BLOCK_STRONG_BYTES; i-- > 0;) strong = strong << 8 | digest[i];
        return true;
    }

private:
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
};

// Offers the window at `offset` to every kind of its weak checksum that is
// still missing. 1 when one took it, 0 when none, -1 when hashing failed.
int offer_window(KindTable& table, StrongHasher& hasher, const unsigned char* window,
                 size_t size, uint32_t block_size, uint32_t weak, uint64_t offset) {
    const uint32_t bit = filter_bit(weak, table.filter_shift);
    if ((table.filter[bit / 64] & (1ull << (bit % 64))) == 0) return 0;
    auto first = std::lower_bound(table.kinds.begin(), table.kinds.end(), weak,
                                  [](const BlockKind& kind, uint32_t w) { return kind.weak < w; });
    auto last = first;
    bool missing = false;
    for (; last != table.kinds.end() && last->weak == weak; ++last)
        missing = missing || last->source == NOT_FOUND;
    if (!missing) return 0;
    uint64_t strong = 0;
    if (!hasher.sum(window, size, block_size, strong)) return -1;
    for (auto kind = first; kind != last; ++kind) {
        if (kind->strong == strong && kind->source == NOT_FOUND) {
            kind->source = offset;
            return 1;
        }
    }
    return 0;
}

bool read_more(HANDLE file, std::vector<unsigned char>& buffer, size_t& have, bool& end) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(buffer.size() - have);
    if (!ReadFile(file, buffer.data() + have, want, &got, nullptr)) return false;
    have += got;
    end = got == 0;
    return true;
}

bool scan_local(HANDLE file, uint64_t local_size, const BlockMap& map, KindTable& table,
                StrongHasher& hasher, const std::atomic<int32_t>& stop, std::string& error) {
    const uint32_t block = map.block_size;
    std::vector<unsigned char> buffer(READ_BYTES + block);
    size_t have = 0, pos = 0;
    uint64_t base = 0;  // file offset of buffer[0]
    bool end = false, rolled = false;
    RollingSum sum;
    for (;;) {
        if (pos + block >= have && !end) {
            // The next byte to roll in is not read yet: keep the window, read on.
            if (stop.load() != 0) {
                error = "block match: stopped";
                return false;
            }
            std::memmove(buffer.data(), buffer.data() + pos, have - pos);
            base += pos;
            have -= pos;
            pos = 0;
            if (!read_more(file, buffer, have, end)) {
                error = "block match: cannot read the local file (" +
                        std::to_string(GetLastError()) + ")";
                return false;
            }
            continue;
        }
        if (pos + block > have) break;
        if (!rolled) {
            sum.reset(buffer.data() + pos, block, block);
            rolled = true;
        }
        const int taken =
            offer_window(table, hasher, buffer.data() + pos, block, block, sum.value(), base + pos);
        if (taken < 0) {
            error = "block match: the hash service failed";
            return false;
        }
        if (taken > 0) {
            // What follows a found block is most likely the next one.
            pos += block;
            rolled = false;
            continue;
        }
        if (pos + block == have) break;
        sum.roll(buffer[pos], buffer[pos + block]);
        ++pos;
    }
    if (base + have != local_size) {
        error = "block match: the local file changed while it was read";
        return false;
    }
    return true;
}

// A short last block also stands at the very end of the local file when
// the file's end did not change: no full window there holds it.
bool match_tail(HANDLE file, uint64_t local_size, const BlockMap& map, KindTable& table,
                StrongHasher& hasher, std::string& error) {
    const uint64_t tail = map.file_size % map.block_size;
    if (tail == 0 || local_size < tail) return true;
    BlockKind& kind = table.kinds[table.block_kind.back()];
    if (kind.source != NOT_FOUND) return true;
    std::vector<unsigned char> bytes(static_cast<size_t>(tail));
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(local_size - tail);
    DWORD got = 0;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
        !ReadFile(file, bytes.data(), static_cast<DWORD>(tail), &got, nullptr) || got != tail) {
        error = "block match: cannot read the local file's end";
        return false;
    }
    RollingSum sum;
    sum.reset(bytes.data(), bytes.size(), map.block_size);
    uint64_t strong = 0;
    if (sum.value() != kind.weak) return true;
    if (!hasher.sum(bytes.data(), bytes.size(), map.block_size, strong)) {
        error = "block match: the hash service failed";
        return false;
    }
    if (strong == kind.strong) kind.source = local_size - tail;
    return true;
}

void add_copy(BlockPlan& plan, uint64_t target, uint64_t source, uint64_t length) {
    if (!plan.copies.empty()) {
        BlockCopy& last = plan.copies.back();
        if (last.target + last.length == target && last.source + last.length == source) {
            last.length += length;
            plan.reused_bytes += length;
            return;
        }
    }
    plan.copies.push_back(BlockCopy{target, source, length});
    plan.reused_bytes += length;
}

void add_fetch(BlockPlan& plan, uint64_t offset, uint64_t length) {
    if (!plan.fetches.empty() && plan.fetches.back().offset + plan.fetches.back().length == offset)
        plan.fetches.back().length += length;
    else
        plan.fetches.push_back(ByteRange{offset, length});
    plan.fetch_bytes += length;
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
    return read_block_map(bytes, entry.size, entry.blocks.block_size, map, error);
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
    plan = BlockPlan{};
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        error = "block match: cannot read the local file's size (" +
                std::to_string(GetLastError()) + ")";
        return false;
    }
    const uint64_t local_size = static_cast<uint64_t>(size.QuadPart);
    KindTable table;
    build_table(map, table);
    StrongHasher hasher;
    if (!map.blocks.empty() &&
        (!scan_local(file, local_size, map, table, hasher, stop, error) ||
         !match_tail(file, local_size, map, table, hasher, error)))
        return false;
    for (size_t i = 0; i < map.blocks.size(); ++i) {
        const uint64_t target = static_cast<uint64_t>(i) * map.block_size;
        const uint64_t length = std::min<uint64_t>(map.block_size, map.file_size - target);
        const uint64_t source = table.kinds[table.block_kind[i]].source;
        if (source != NOT_FOUND)
            add_copy(plan, target, source, length);
        else
            add_fetch(plan, target, length);
    }
    return true;
}
