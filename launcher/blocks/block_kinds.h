#pragma once
// The new file's blocks as the matcher looks them up at every byte offset
// of an old copy: equal blocks grouped into one kind (the zero padding of an
// archive above all), so each content is looked for once, and every two
// blocks in a row as a pair, found by the weak checksums of both. A bit
// filter answers "no such pair" for almost every offset before the table
// is asked.
#include <cstdint>
#include <vector>

#include "launcher/blocks/block_map.h"

const uint64_t BLOCK_NOT_FOUND = ~0ull;

struct BlockKind {
    uint32_t weak = 0;
    uint64_t strong = 0;
};

// Two blocks in a row of the new file, as kinds.
struct BlockPair {
    uint64_t key = 0;  // both weak checksums, the first one high
    uint32_t first = 0;
    uint32_t second = 0;
};

struct BlockKinds {
    std::vector<BlockKind> kinds;
    std::vector<uint32_t> block_kind;  // per block of the new file
    std::vector<BlockPair> pairs;      // by key; each pair of kinds once
    std::vector<uint32_t> slots;       // by mixed key: 1 + index of the key's first pair
    std::vector<uint64_t> filter;      // a bit per mixed key
    int filter_shift = 48;
    int slot_shift = 60;
};

inline uint64_t block_pair_key(uint32_t first_weak, uint32_t second_weak) {
    return static_cast<uint64_t>(first_weak) << 32 | second_weak;
}

// Weak checksums are sums, far from uniform: their bits are mixed before
// they pick a filter bit or a slot.
inline uint64_t mix_pair_key(uint64_t key) { return key * 0x9e3779b97f4a7c15ull; }

void build_block_kinds(const BlockMap& map, BlockKinds& table);

// The filter holds at most 2^27 bits, so the index of a bit's word fits the
// 32-bit size_t of the players' build.
inline size_t block_filter_word(uint64_t bit) { return static_cast<size_t>(bit / 64); }

// Asks for the filter bit of `key` to be brought into the cache.
inline void prefetch_block_pairs(const BlockKinds& table, uint64_t key) {
    const uint64_t bit = mix_pair_key(key) >> table.filter_shift;
    __builtin_prefetch(&table.filter[block_filter_word(bit)]);
}

// The pairs of `key` as [first, last) of table.pairs; false when there are
// none. The filter is asked first, so this is cheap for almost every key.
inline bool find_block_pairs(const BlockKinds& table, uint64_t key, size_t& first,
                             size_t& last) {
    const uint64_t mixed = mix_pair_key(key);
    const uint64_t bit = mixed >> table.filter_shift;
    if ((table.filter[block_filter_word(bit)] >> (bit % 64) & 1) == 0) return false;
    const size_t mask = table.slots.size() - 1;
    for (size_t slot = static_cast<size_t>(mixed >> table.slot_shift);; slot = (slot + 1) & mask) {
        const uint32_t index = table.slots[slot];
        if (index == 0) return false;
        if (table.pairs[index - 1].key == key) {
            first = index - 1;
            last = first + 1;
            while (last < table.pairs.size() && table.pairs[last].key == key) ++last;
            return true;
        }
    }
}
