#pragma once
// How a described file's new version is put together: the stretches copied
// from the player's older copy and the byte ranges fetched from the server,
// in the new file's order.
#include <cstdint>
#include <vector>

struct BlockCopy {
    uint64_t target = 0;  // offset in the new file
    uint64_t source = 0;  // offset in the local file
    uint64_t length = 0;
};

struct ByteRange {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// Both lists in the new file's order, touching neighbours merged; together
// they cover the new file exactly once.
struct BlockPlan {
    std::vector<BlockCopy> copies;
    std::vector<ByteRange> fetches;
    uint64_t reused_bytes = 0;
    uint64_t fetch_bytes = 0;
};

// The plan for a file of `file_size` bytes in blocks of `block_size`, where
// `sources` gives each block's offset in the local file, or ~0 for a block
// to fetch. Every reused block is copied, however short its stretch.
void make_block_plan(uint64_t file_size, uint32_t block_size, const std::vector<uint64_t>& sources,
                     BlockPlan& plan);

// Fetches every reused stretch of at most `gap_bytes` that lies between two
// fetched ranges along with them: another range costs more than its bytes
// on a link with round trips (range_batches.h prices it). Stretches
// before the first or after the last range stay copies.
void merge_short_gaps(BlockPlan& plan, uint64_t gap_bytes);
