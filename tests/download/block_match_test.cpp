// Block descriptions and the matcher: a description is taken only as the
// manifest declared it, and the plan made from an older local copy rebuilds
// the new file exactly while fetching only what the copy lacks.
#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/download/block_map.h"
#include "launcher/download/block_match.h"
#include "launcher/download/manifest.h"
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
    TempDir dir(L"korval-blocks");
    EXPECT_TRUE(write_file(dir.file(L"old.img"), old_bytes));
    const std::string description = describe_blocks(new_bytes);
    BlockMap map;
    std::string error;
    EXPECT_TRUE(accept_block_map(description, entry_for(new_bytes, description), map, error))
        << error;
    Outcome outcome;
    std::atomic<int32_t> stop{0};
    EXPECT_TRUE(plan_from_local_file(dir.file(L"old.img"), map, stop, outcome.plan, error))
        << error;
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
    for (size_t at : {size_t{5000}, old_bytes.size() / 2, old_bytes.size() - 100})
        for (size_t i = 0; i < 100; ++i) new_bytes[at + i] = static_cast<char>(~new_bytes[at + i]);
    Outcome outcome = rebuild(old_bytes, new_bytes);
    ASSERT_TRUE(outcome.rebuilt == new_bytes);
    EXPECT_LE(outcome.plan.fetch_bytes, 4u * BLOCK);
    EXPECT_EQ(outcome.plan.fetches.size(), 3u);
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
    // The new directory sector and the new entry.
    EXPECT_EQ(outcome.plan.fetch_bytes, 4u * BLOCK);
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
}

// The bytes tools/publishing/block_map.py writes for 5000 bytes of
// (7 * i + 3) mod 256: the launcher's sums must agree with the publisher's.
TEST(BlockMap, DescriptionIsTakenOnlyAsDeclared) {
    std::string data(5000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((7 * i + 3) & 0xff);
    const std::string published_hex =
        "4b56424c4f434b530100000000080000881300000000000000fc00e8dfff795a6b8cdf4200fc00e8dfff"
        "795a6b8cdf421cbf580f0815b9cde5906674";
    std::string published;
    for (size_t i = 0; i < published_hex.size(); i += 2)
        published += static_cast<char>(std::stoi(published_hex.substr(i, 2), nullptr, 16));
    EXPECT_EQ(describe_blocks(data), published);

    ManifestEntry entry = entry_for(data, published);
    EXPECT_EQ(entry.blocks.hash,
              "cf5b3ea45e01656f63c933c2a3e14e2995479ea88b3232753ec6f2d81d663948");
    BlockMap map;
    std::string error;
    ASSERT_TRUE(accept_block_map(published, entry, map, error)) << error;
    ASSERT_EQ(map.blocks.size(), 3u);
    EXPECT_EQ(map.blocks[0].weak, 0xe800fc00u);
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
    EXPECT_TRUE(refused(published.substr(0, 48), entry));
    ManifestEntry none = entry;
    none.blocks.url.clear();
    EXPECT_TRUE(refused(published, none));
    // Bytes that the manifest vouches for but that describe something else.
    for (const auto& change : std::vector<std::pair<size_t, char>>{
             {0, 'X'}, {8, 2}, {13, 16}, {16, 0x89}}) {
        std::string bytes = published;
        bytes[change.first] = change.second;
        EXPECT_TRUE(refused(bytes, entry_for(data, bytes))) << change.first;
    }
    std::string longer = published + std::string(12, '\0');
    EXPECT_TRUE(refused(longer, entry_for(data, longer)));
}

}  // namespace
