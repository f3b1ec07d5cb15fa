#include "launcher/blocks/range_batches.h"

#include <algorithm>

namespace {

// The price when the link is not measured yet: a few kilobytes of a
// player's link for a round trip.
const uint64_t UNMEASURED_GAP_BYTES = 16384;
// A gap larger than this is copied whatever the link: the batch that would
// carry it must still fit in memory with its neighbours.
const uint64_t MAX_GAP_BYTES = MAX_BATCH_BYTES / 4;

}  // namespace

void make_range_batches(const std::vector<ByteRange>& fetches, size_t max_ranges,
                        uint64_t max_bytes, std::vector<RangeBatch>& batches) {
    batches.clear();
    for (const ByteRange& whole : fetches) {
        for (uint64_t done = 0; done < whole.length;) {
            if (batches.empty() || batches.back().ranges.size() >= max_ranges ||
                batches.back().bytes >= max_bytes)
                batches.emplace_back();
            RangeBatch& batch = batches.back();
            const uint64_t piece = std::min(whole.length - done, max_bytes - batch.bytes);
            batch.ranges.push_back(ByteRange{whole.offset + done, piece});
            batch.bytes += piece;
            done += piece;
        }
    }
}

std::string range_spec(const std::vector<ByteRange>& ranges) {
    std::string spec;
    for (const ByteRange& range : ranges) {
        if (!spec.empty()) spec += ',';
        spec += std::to_string(range.offset) + "-" + std::to_string(range.offset + range.length - 1);
    }
    return spec;
}

uint64_t gap_price_bytes(uint64_t round_trip_bytes, bool multi_range) {
    if (round_trip_bytes == 0) return UNMEASURED_GAP_BYTES;
    const uint64_t price =
        multi_range ? PART_HEADER_BYTES + round_trip_bytes / MAX_RANGES_PER_REQUEST
                    : round_trip_bytes;
    return std::min(price, MAX_GAP_BYTES);
}
