#include "launcher/blocks/block_kinds.h"

#include <algorithm>

namespace {

void group_kinds(const BlockMap& map, BlockKinds& table) {
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
            table.kinds.push_back(BlockKind{sum.weak, sum.strong});
        table.block_kind[block] = static_cast<uint32_t>(table.kinds.size() - 1);
    }
}

void list_pairs(const BlockMap& map, BlockKinds& table) {
    for (size_t i = 0; i + 1 < map.blocks.size(); ++i)
        table.pairs.push_back(BlockPair{block_pair_key(map.blocks[i].weak, map.blocks[i + 1].weak),
                                        table.block_kind[i], table.block_kind[i + 1]});
    const auto before = [](const BlockPair& x, const BlockPair& y) {
        if (x.key != y.key) return x.key < y.key;
        return x.first != y.first ? x.first < y.first : x.second < y.second;
    };
    const auto same = [](const BlockPair& x, const BlockPair& y) {
        return x.key == y.key && x.first == y.first && x.second == y.second;
    };
    std::sort(table.pairs.begin(), table.pairs.end(), before);
    table.pairs.erase(std::unique(table.pairs.begin(), table.pairs.end(), same), table.pairs.end());
}

// Some 32 filter bits per pair turn away all but about 3 % of the offsets
// that hold none; at most 16 MiB of them.
void fill_filter(BlockKinds& table) {
    int bits = 16;
    while (bits < 27 && (size_t{1} << bits) < table.pairs.size() * 32) ++bits;
    table.filter_shift = 64 - bits;
    table.filter.assign((size_t{1} << bits) / 64, 0);
    for (const BlockPair& pair : table.pairs) {
        const uint64_t bit = mix_pair_key(pair.key) >> table.filter_shift;
        table.filter[block_filter_word(bit)] |= 1ull << (bit % 64);
    }
}

// Open addressing, at most half full, one slot per distinct key.
void fill_slots(BlockKinds& table) {
    int bits = 4;
    while ((size_t{1} << bits) < table.pairs.size() * 2) ++bits;
    table.slot_shift = 64 - bits;
    table.slots.assign(size_t{1} << bits, 0);
    const size_t mask = table.slots.size() - 1;
    for (size_t i = 0; i < table.pairs.size(); ++i) {
        if (i > 0 && table.pairs[i - 1].key == table.pairs[i].key) continue;
        size_t slot = static_cast<size_t>(mix_pair_key(table.pairs[i].key) >> table.slot_shift);
        while (table.slots[slot] != 0) slot = (slot + 1) & mask;
        table.slots[slot] = static_cast<uint32_t>(i + 1);
    }
}

}  // namespace

void build_block_kinds(const BlockMap& map, BlockKinds& table) {
    table = BlockKinds{};
    group_kinds(map, table);
    list_pairs(map, table);
    fill_filter(table);
    fill_slots(table);
}
