#pragma once
// The ranges of a block build grouped into requests. A request costs a
// round trip, so it asks for many ranges at once where the server answers
// them as one multipart body; its body is held in memory until it is
// written in the file's order, so its bytes are bounded.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/blocks/block_plan.h"

// Ranges per request: the Range header stays near a kilobyte, well inside
// the 8 KiB nginx and CDNs allow for one header line.
const size_t MAX_RANGES_PER_REQUEST = 64;
// Bytes per request. With the requests in flight of one build this bounds
// what it holds in memory (docs/block_maps.md).
const uint64_t MAX_BATCH_BYTES = 2u << 20;
// About what a multipart answer adds for each part: a delimiter, its
// Content-Type and Content-Range.
const uint64_t PART_HEADER_BYTES = 100;

struct RangeBatch {
    std::vector<ByteRange> ranges;  // in the file's order
    uint64_t bytes = 0;
};

// `fetches` (in the file's order) in batches of at most `max_ranges` ranges
// and `max_bytes` bytes; a longer range is cut into pieces of `max_bytes`.
void make_range_batches(const std::vector<ByteRange>& fetches, size_t max_ranges,
                        uint64_t max_bytes, std::vector<RangeBatch>& batches);

// "a-b,c-d,..." for a Range header.
std::string range_spec(const std::vector<ByteRange>& ranges);

// The longest reused stretch between two fetched ranges that is cheaper
// fetched than copied: the cost of one more range, which is a round trip at
// the connection's rate (`round_trip_bytes`) when each range is a request
// of its own, and a share of one plus its part's headers when a request
// carries many. Without a measure of the link, today's fixed guess.
uint64_t gap_price_bytes(uint64_t round_trip_bytes, bool multi_range);
