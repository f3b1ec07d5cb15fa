#include "launcher/blocks/block_plan.h"

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

uint64_t end_of(const ByteRange& range) { return range.offset + range.length; }

}  // namespace

void make_block_plan(uint64_t file_size, uint32_t block_size, const std::vector<uint64_t>& sources,
                     BlockPlan& plan) {
    plan = BlockPlan{};
    for (size_t i = 0; i < sources.size(); ++i) {
        const uint64_t target = static_cast<uint64_t>(i) * block_size;
        const uint64_t length = std::min<uint64_t>(block_size, file_size - target);
        if (sources[i] != FETCH)
            add_copy(plan, target, sources[i], length);
        else
            add_fetch(plan, target, length);
    }
}

void merge_short_gaps(BlockPlan& plan, uint64_t gap_bytes) {
    if (gap_bytes == 0 || plan.fetches.size() < 2) return;
    std::vector<ByteRange> fetches;
    fetches.reserve(plan.fetches.size());
    for (const ByteRange& range : plan.fetches) {
        if (!fetches.empty() && range.offset - end_of(fetches.back()) <= gap_bytes)
            fetches.back().length = end_of(range) - fetches.back().offset;
        else
            fetches.push_back(range);
    }
    // The copies left are those outside every merged range; the lists are in
    // the same order, so one pass over both does.
    std::vector<BlockCopy> copies;
    size_t at = 0;
    uint64_t reused = 0;
    for (const BlockCopy& copy : plan.copies) {
        while (at < fetches.size() && end_of(fetches[at]) <= copy.target) ++at;
        if (at < fetches.size() && fetches[at].offset <= copy.target) continue;
        copies.push_back(copy);
        reused += copy.length;
    }
    plan.fetch_bytes += plan.reused_bytes - reused;
    plan.reused_bytes = reused;
    plan.fetches.swap(fetches);
    plan.copies.swap(copies);
}
