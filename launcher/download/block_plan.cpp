#include "launcher/download/block_plan.h"

#include <algorithm>

namespace {

const uint64_t FETCH = ~0ull;

void add_copy(BlockPlan& plan, uint64_t target, uint64_t source, uint64_t length) {
    plan.reused_bytes += length;
    if (!plan.copies.empty()) {
        BlockCopy& last = plan.copies.back();
        if (last.target + last.length == target && last.source + last.length == source) {
            last.length += length;
            return;
        }
    }
    plan.copies.push_back(BlockCopy{target, source, length});
}

void add_fetch(BlockPlan& plan, uint64_t offset, uint64_t length) {
    plan.fetch_bytes += length;
    if (!plan.fetches.empty() && plan.fetches.back().offset + plan.fetches.back().length == offset)
        plan.fetches.back().length += length;
    else
        plan.fetches.push_back(ByteRange{offset, length});
}

}  // namespace

void make_block_plan(uint64_t file_size, uint32_t block_size, std::vector<uint64_t> sources,
                     BlockPlan& plan) {
    plan = BlockPlan{};
    const size_t count = sources.size();
    const size_t gap_blocks = static_cast<size_t>(MERGE_GAP_BYTES / block_size);
    for (size_t i = 1; i < count; ++i) {
        if (sources[i] == FETCH || sources[i - 1] != FETCH) continue;
        // A reused stretch starts at i after a fetched block: fetched too
        // when it is short and another fetched block follows it.
        size_t end = i;
        while (end < count && end - i <= gap_blocks && sources[end] != FETCH) ++end;
        if (end < count && end - i <= gap_blocks)
            std::fill(sources.begin() + i, sources.begin() + end, FETCH);
    }
    for (size_t i = 0; i < count; ++i) {
        const uint64_t target = static_cast<uint64_t>(i) * block_size;
        const uint64_t length = std::min<uint64_t>(block_size, file_size - target);
        if (sources[i] != FETCH)
            add_copy(plan, target, sources[i], length);
        else
            add_fetch(plan, target, length);
    }
}
