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
    // The first two changes are two blocks apart: one request for both.
    for (size_t at : {size_t{5000}, size_t{5000 + 3 * BLOCK}, old_bytes.size() / 2,
                      old_bytes.size() - 100})
        for (size_t i = 0; i < 100; ++i) new_bytes[at + i] = static_cast<char>(~new_bytes[at + i]);
    Outcome outcome = rebuild(old_bytes, new_bytes);
    ASSERT_TRUE(outcome.rebuilt == new_bytes);
    EXPECT_LE(outcome.plan.fetch_bytes, 8u * BLOCK);
    ASSERT_EQ(outcome.plan.fetches.size(), 3u);
    EXPECT_EQ(outcome.plan.fetches[0].offset, 2u * BLOCK);
    EXPECT_EQ(outcome.plan.fetches[0].length, 4u * BLOCK);
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
