#pragma once
// Which blocks of a new version of a game file the player's older copy
// already holds, wherever they moved to: rsync's search as zsync does it, the
// weak checksums of two blocks in a row rolled over every byte offset of the
// local file and each hit confirmed by both blocks' strong sums, so that
// inserted bytes and a rebuilt archive's new order still find them. The
// result is a plan: local copies and the ranges left to fetch.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

#include "launcher/blocks/block_map.h"
#include "launcher/blocks/block_plan.h"

struct ManifestEntry;

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
