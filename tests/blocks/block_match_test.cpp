// Block descriptions and the matcher: a description is taken only as the
// manifest declared it, and the plan made from an older local copy rebuilds
// the new file exactly while fetching only what the copy lacks.
#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/blocks/block_map.h"
#include "launcher/blocks/block_match.h"
#include "launcher/download/manifest.h"
#include "allocation_ceiling.h"
#include "block_description.h"
#include "launcher/net/sha256.h"
#include "test_support.h"

namespace {

const uint32_t BLOCK = TEST_BLOCK_SIZE;

ManifestEntry entry_for(const std::string& data, const std::string& description) {
    ManifestEntry entry;
    entry.size = data.size();
    entry.blocks.url = "/pc/r/a.img.blocks";
    entry.blocks.size = description.size();
    entry.blocks.hash = sha256_hex(description);
    entry.blocks.block_size = BLOCK;
    return entry;
}

struct Outcome {
    BlockPlan plan;
    std::string rebuilt;
};

// Plans the new file from the old one on disk and rebuilds it as a
// download would: copies from the old bytes, fetched ranges from the new.
Outcome rebuild(const std::string& old_bytes, const std::string& new_bytes) {
    // A failed step leaves nothing for the rest to check (an empty map has
    // no block size): the case fails there and goes no further.
    TempDir dir(L"korval-blocks");
    if (!write_file(dir.file(L"old.img"), old_bytes)) {
        ADD_FAILURE() << "cannot write the old file";
        return {};
    }
    const std::string description = describe_blocks(new_bytes);
    BlockMap map;
    std::string error;
    if (!accept_block_map(description, entry_for(new_bytes, description), map, error)) {
        ADD_FAILURE() << "description refused: " << error;
        return {};
    }
    Outcome outcome;
    std::atomic<int32_t> stop{0};
    if (!plan_from_local_file(dir.file(L"old.img"), map, stop, outcome.plan, error)) {
        ADD_FAILURE() << "no plan: " << error;
        return {};
    }
    // Copies and fetches interleave in the new file's order and cover it once.
    std::vector<std::pair<uint64_t, uint64_t>> pieces;
    for (const BlockCopy& copy : outcome.plan.copies) {
        EXPECT_LE(copy.source + copy.length, old_bytes.size());
        pieces.push_back({copy.target, copy.length});
        outcome.rebuilt.resize(std::max<size_t>(outcome.rebuilt.size(), copy.target + copy.length));
        outcome.rebuilt.replace(copy.target, copy.length, old_bytes, copy.source, copy.length);
    }
    for (size_t i = 0; i < outcome.plan.fetches.size(); ++i) {
        const ByteRange& range = outcome.plan.fetches[i];
        pieces.push_back({range.offset, range.length});
        outcome.rebuilt.resize(
            std::max<size_t>(outcome.rebuilt.size(), range.offset + range.length));
        outcome.rebuilt.replace(range.offset, range.length, new_bytes, range.offset, range.length);
        // Touching ranges are one request.
        if (i > 0) {
            const ByteRange& before = outcome.plan.fetches[i - 1];
            EXPECT_LT(before.offset + before.length, range.offset);
        }
    }
    std::sort(pieces.begin(), pieces.end());
    uint64_t covered = 0;
    for (const auto& piece : pieces) {
        EXPECT_EQ(piece.first, covered);
        covered = piece.first + piece.second;
    }
    EXPECT_EQ(covered, new_bytes.size());
    EXPECT_EQ(outcome.plan.reused_bytes + outcome.plan.fetch_bytes, new_bytes.size());
    return outcome;
}

TEST(BlockMatch, ChangedBytesInPlaceCostTheirBlocks) {
    std::mt19937 random(11);
    const std::string old_bytes = archive(random, archive_entries(random, 120));
    std::string new_bytes = old_bytes;
    // The first two changes are two blocks apart: one request for both once
    // the gap is priced.
    for (size_t at : {size_t{5000}, size_t{5000 + 3 * BLOCK}, old_bytes.size() / 2,
                      old_bytes.size() - 100})
        for (size_t i = 0; i < 100; ++i) new_bytes[at + i] = static_cast<char>(~new_bytes[at + i]);
    Outcome outcome = rebuild(old_bytes, new_bytes);
    ASSERT_TRUE(outcome.rebuilt == new_bytes);
    EXPECT_LE(outcome.plan.fetch_bytes, 6u * BLOCK);
    ASSERT_EQ(outcome.plan.fetches.size(), 4u);
    EXPECT_EQ(outcome.plan.fetches[0].offset, 2u * BLOCK);
    EXPECT_EQ(outcome.plan.fetches[0].length, 1u * BLOCK);
    EXPECT_EQ(outcome.plan.fetches[1].offset, 5u * BLOCK);
    const uint64_t unmerged_fetch = outcome.plan.fetch_bytes;
    merge_short_gaps(outcome.plan, 16384);
    ASSERT_EQ(outcome.plan.fetches.size(), 3u);
    EXPECT_EQ(outcome.plan.fetches[0].offset, 2u * BLOCK);
    EXPECT_EQ(outcome.plan.fetches[0].length, 4u * BLOCK);
    EXPECT_EQ(outcome.plan.fetch_bytes, unmerged_fetch + 2u * BLOCK);
    EXPECT_EQ(outcome.plan.reused_bytes + outcome.plan.fetch_bytes, new_bytes.size());

    // A change that keeps its block's weak sum (+1, -2, +1 on three bytes in
    // a row leaves both of rsync's sums as they were): the old copy's pair
    // agrees on both weak sums and on its first block's strong sum, and the
    // second block is fetched all the same.
    const std::string kept_new = random_bytes(random, 4 * BLOCK);
    std::string kept_old = kept_new;
    size_t at = BLOCK;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(kept_old[i]); };
    while (byte(at) == 255 || byte(at + 1) < 2 || byte(at + 2) == 255) ++at;
    ASSERT_LT(at + 2, 2u * BLOCK);
    kept_old[at] = static_cast<char>(byte(at) + 1);
    kept_old[at + 1] = static_cast<char>(byte(at + 1) - 2);
    kept_old[at + 2] = static_cast<char>(byte(at + 2) + 1);
    RollingSum kept_sum, changed_sum;
    kept_sum.reset(reinterpret_cast<const unsigned char*>(kept_new.data()) + BLOCK, BLOCK, BLOCK);
    changed_sum.reset(reinterpret_cast<const unsigned char*>(kept_old.data()) + BLOCK, BLOCK,
                      BLOCK);
    ASSERT_EQ(kept_sum.value(), changed_sum.value());
    EXPECT_TRUE(rebuild(kept_old, kept_new).rebuilt == kept_new);

    // Reused stretches between two ranges: one of exactly the gap limit is
    // fetched with them, one a block longer stays a copy, and so do those
    // before the first range and after the last. Copies keep their sources.
    const uint64_t F = ~0ull;  // a block to fetch
    const uint64_t moved = 777;
    const std::vector<uint64_t> sources = {moved,         F, 2 * BLOCK + moved, 3 * BLOCK + moved,
                                           F,             5 * BLOCK + moved,    6 * BLOCK + moved,
                                           7 * BLOCK + moved, F,                9 * BLOCK + moved};
    BlockPlan plan;
    make_block_plan(9 * BLOCK + 100, BLOCK, sources, plan);
    ASSERT_EQ(plan.fetches.size(), 3u);
    ASSERT_EQ(plan.copies.size(), 4u);
    merge_short_gaps(plan, 2 * BLOCK);
    ASSERT_EQ(plan.fetches.size(), 2u);
    EXPECT_EQ(plan.fetches[0].offset, 1u * BLOCK);
    EXPECT_EQ(plan.fetches[0].length, 4u * BLOCK);
    EXPECT_EQ(plan.fetches[1].offset, 8u * BLOCK);
    EXPECT_EQ(plan.fetches[1].length, 1u * BLOCK);
    ASSERT_EQ(plan.copies.size(), 3u);
    const uint64_t copies[3][3] = {{0, moved, BLOCK},
                                   {5 * BLOCK, 5 * BLOCK + moved, 3 * BLOCK},
                                   {9 * BLOCK, 9 * BLOCK + moved, 100}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(plan.copies[i].target, copies[i][0]) << i;
        EXPECT_EQ(plan.copies[i].source, copies[i][1]) << i;
        EXPECT_EQ(plan.copies[i].length, copies[i][2]) << i;
    }
    EXPECT_EQ(plan.fetch_bytes, 5u * BLOCK);
    EXPECT_EQ(plan.reused_bytes, 4u * BLOCK + 100);
}

TEST(BlockMatch, InsertedBytesShiftTheRestWithoutCost) {
    std::mt19937 random(12);
    const std::string old_bytes = archive(random, archive_entries(random, 120)) + "tail-bytes";
    std::string new_bytes = old_bytes;
    new_bytes.insert(old_bytes.size() / 3, random_bytes(random, 1000));
    Outcome outcome = rebuild(old_bytes, new_bytes);
    ASSERT_TRUE(outcome.rebuilt == new_bytes);
    // The blocks that hold the inserted bytes; the short last block comes
    // from the local file's end.
    EXPECT_LE(outcome.plan.fetch_bytes, 2u * BLOCK);
    EXPECT_EQ(new_bytes.size() % BLOCK, old_bytes.size() % BLOCK + 1000);
    ASSERT_FALSE(outcome.plan.copies.empty());
    const BlockCopy& last = outcome.plan.copies.back();
    EXPECT_EQ(last.target + last.length, new_bytes.size());
    EXPECT_EQ(last.source + last.length, old_bytes.size());

    // The only pair the old copy holds, at its very last offset, in a later
    // read than the first.
    const std::string pair = random_bytes(random, 2 * BLOCK);
    const std::string end_old = random_bytes(random, (1u << 20) + 777) + pair;
    const std::string end_new = random_bytes(random, 3 * BLOCK) + pair + random_bytes(random, BLOCK);
    Outcome at_end = rebuild(end_old, end_new);
    ASSERT_TRUE(at_end.rebuilt == end_new);
    EXPECT_EQ(at_end.plan.reused_bytes, 2u * BLOCK);

    // The block before a short last block changed: no find points to the
    // last block, which is still found at the old copy's end.
    const std::string tail_old = random_bytes(random, 300) + random_bytes(random, 6 * BLOCK + 700);
    std::string tail_new = tail_old.substr(300);
    tail_new.replace(5 * BLOCK, BLOCK, random_bytes(random, BLOCK));
    Outcome tail = rebuild(tail_old, tail_new);
    ASSERT_TRUE(tail.rebuilt == tail_new);
    EXPECT_EQ(tail.plan.fetch_bytes, 1u * BLOCK);
}

TEST(BlockMatch, RebuiltArchiveInAnotherOrderCostsOnlyItsNewEntry) {
    std::mt19937 random(13);
    std::vector<std::string> entries = archive_entries(random, 150);
    const std::string old_bytes = archive(random, entries);
    std::shuffle(entries.begin(), entries.end(), random);
    entries[7] = random_bytes(random, 3 * BLOCK);
    const std::string new_bytes = archive(random, entries);
    Outcome outcome = rebuild(old_bytes, new_bytes);
    ASSERT_TRUE(outcome.rebuilt == new_bytes);
    // The new directory sector and the new entry; and an entry of one
    // sector, now between two others, since a block is found only with a
    // neighbour.
    size_t single = 0;
    for (const std::string& entry : entries) single += entry.size() == BLOCK ? 1 : 0;
    EXPECT_GT(single, 0u);
    EXPECT_GE(outcome.plan.fetch_bytes, 4u * BLOCK);
    EXPECT_LE(outcome.plan.fetch_bytes, (4u + single) * BLOCK);
}

TEST(BlockMatch, UnrelatedOrMissingContentIsFetchedWhole) {
    std::mt19937 random(14);
    const std::string new_bytes = archive(random, archive_entries(random, 40)) + "x";
    for (const std::string& old_bytes : {random_bytes(random, new_bytes.size()), std::string(),
                                         std::string(new_bytes, 0, 100)}) {
        Outcome outcome = rebuild(old_bytes, new_bytes);
        ASSERT_TRUE(outcome.rebuilt == new_bytes);
        EXPECT_EQ(outcome.plan.fetch_bytes, new_bytes.size());
        EXPECT_EQ(outcome.plan.fetches.size(), 1u);
    }
    // A large old copy is first searched in a few places only: a stretch of
    // the new file it holds between them is still found, and one that holds
    // nothing is fetched whole.
    std::string large_old = random_bytes(random, 66u << 20);
    std::string large_new = random_bytes(random, 4u << 20) +
                            large_old.substr((40u << 20) + 12345, 3u << 20) +
                            random_bytes(random, 1000);
    EXPECT_EQ(rebuild(large_old, large_new).plan.reused_bytes, 3u << 20);
    large_old.replace((40u << 20) + 12345, 3u << 20, random_bytes(random, 3u << 20));
    EXPECT_EQ(rebuild(large_old, large_new).plan.reused_bytes, 0u);
    // A file held in another version, then stopped, then gone.
    TempDir dir(L"korval-blocks");
    ASSERT_TRUE(write_file(dir.file(L"old.img"), new_bytes));
    const std::string description = describe_blocks(new_bytes);
    BlockMap map;
    std::string error;
    ASSERT_TRUE(accept_block_map(description, entry_for(new_bytes, description), map, error));
    BlockPlan plan;
    std::atomic<int32_t> stop{1};
    EXPECT_FALSE(plan_from_local_file(dir.file(L"old.img"), map, stop, plan, error));
    stop = 0;
    EXPECT_FALSE(plan_from_local_file(dir.file(L"gone.img"), map, stop, plan, error));
    EXPECT_FALSE(error.empty());
    // A 32-bit launcher whose address space holds no free block for the
    // search's buffers, on both threads of a copy large enough to be split:
    // a failed plan (the file then comes whole), not an end of the launcher.
    const std::string split = random_bytes(random, 9u << 20);
    ASSERT_TRUE(write_file(dir.file(L"split.img"), split));
    const std::string split_description = describe_blocks(split);
    ASSERT_TRUE(
        accept_block_map(split_description, entry_for(split, split_description), map, error));
    {
        AllocationCeiling ceiling(1u << 20);
        EXPECT_FALSE(plan_from_local_file(dir.file(L"split.img"), map, stop, plan, error));
        EXPECT_GT(ceiling.refusals(), 0);
    }
    EXPECT_EQ(error, "block match: not enough memory for the plan");
    EXPECT_TRUE(plan.copies.empty() && plan.fetches.empty());
}

// The bytes tools/publishing/block_map.py writes for 5000 bytes of
// (7 * i + 3) mod 256: the launcher's sums must agree with the publisher's.
TEST(BlockMap, DescriptionIsTakenOnlyAsDeclared) {
    std::string data(5000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((7 * i + 3) & 0xff);
    const std::string published_hex =
        "4b56424c4f434b53020000000008000088130000000000000204000000e8dfff795a00e8dfff795a580f"
        "0815b9cd";
    std::string published;
    for (size_t i = 0; i < published_hex.size(); i += 2)
        published += static_cast<char>(std::stoi(published_hex.substr(i, 2), nullptr, 16));
    EXPECT_EQ(describe_blocks(data), published);

    ManifestEntry entry = entry_for(data, published);
    EXPECT_EQ(entry.blocks.hash,
              "e7ce72e959cc61fc20e3356e9da3f1a3b72f513d0ad652a113bb6ec15b43401e");
    BlockMap map;
    std::string error;
    ASSERT_TRUE(accept_block_map(published, entry, map, error)) << error;
    ASSERT_EQ(map.blocks.size(), 3u);
    EXPECT_EQ(map.blocks[0].weak, 0xe800u);
    EXPECT_EQ(map.file_size, 5000u);

    const auto refused = [&](std::string bytes, const ManifestEntry& declared) {
        BlockMap ignored;
        std::string why;
        const bool taken = accept_block_map(bytes, declared, ignored, why);
        return !taken && !why.empty();
    };
    ManifestEntry other_hash = entry;
    other_hash.blocks.hash[0] = other_hash.blocks.hash[0] == 'a' ? 'b' : 'a';
    EXPECT_TRUE(refused(published, other_hash));
    EXPECT_TRUE(refused(published.substr(0, 40), entry));
    ManifestEntry none = entry;
    none.blocks.url.clear();
    EXPECT_TRUE(refused(published, none));
    // Bytes that the manifest vouches for but that describe something else.
    for (const auto& change : std::vector<std::pair<size_t, char>>{
             {0, 'X'}, {8, 1}, {13, 16}, {16, 0x89}, {24, 3}, {25, 8}}) {
        std::string bytes = published;
        bytes[change.first] = change.second;
        EXPECT_TRUE(refused(bytes, entry_for(data, bytes))) << change.first;
    }
    std::string longer = published + std::string(6, '\0');
    EXPECT_TRUE(refused(longer, entry_for(data, longer)));
}

}  // namespace
