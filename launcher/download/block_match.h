#pragma once
// Which blocks of a new version of a game file the player's older copy
// already holds, wherever they moved to: rsync's search, the weak checksum
// rolled over every byte offset of the local file and each hit confirmed by
// the block's strong sum, so that inserted bytes and a rebuilt archive's new
// order still find them. The result is a plan: local copies and the ranges
// left to fetch.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

#include "launcher/download/block_map.h"

struct ManifestEntry;

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

// The description fetched for `entry`: exactly the size and SHA-256 its
// manifest entry declares, and then a description of the entry's file.
bool accept_block_map(const std::string& bytes, const ManifestEntry& entry, BlockMap& map,
                      std::string& error);

// The strong sum of one block: `size` bytes, zero-padded to `block_size`.
// False only when the platform's hash service fails.
bool block_strong_sum(const unsigned char* data, size_t size, uint32_t block_size,
                      uint64_t& strong);

// Reads the local file once. False with a log line when it cannot be read,
// the hash service fails, or `stop` turns non-zero.
bool plan_from_local_file(const std::wstring& local_path, const BlockMap& map,
                          const std::atomic<int32_t>& stop, BlockPlan& plan, std::string& error);

// The same from a file the caller holds open for reading from its start;
// the caller copies from the same handle, so nobody can change the file
// between the plan and the copies when it denies writers.
bool plan_from_open_file(HANDLE file, const BlockMap& map, const std::atomic<int32_t>& stop,
                         BlockPlan& plan, std::string& error);
