#pragma once
// A described file's partial download built from the player's older copy:
// the description fetched and checked against the manifest, the blocks the
// copy holds copied, the rest fetched with range requests, all written in
// the file's order and hashed as written, so that the partial is always a
// prefix of the new file that an interrupted download resumes like any
// other (docs/block_maps.md).
#include <cstdint>
#include <string>

#include <windows.h>

struct DownloadRun;
struct ManifestEntry;
class Sha256Hasher;

enum class BlockBuild {
    Complete,  // the partial holds the whole file, fed to the hasher
    Unusable,  // description, server or local copy would not do: download it whole
    Stopped,   // the run was told to stop; what was written is a valid prefix
};

struct BlockCounts {
    uint64_t fetched = 0;  // added to the run's downloaded bytes
    uint64_t reused = 0;   // added to the run's reused bytes
};

// Whether `entry` may be built from blocks: it has a description and the
// local file is there in some version.
bool block_build_possible(const ManifestEntry& entry);

// Builds the empty, open partial `part` of `entry`. On Unusable the reason
// is in `error` for the log; the partial may then hold anything and the
// counts say what was added to the run's figures.
BlockBuild build_part_from_blocks(const ManifestEntry& entry, HANDLE part, Sha256Hasher& hasher,
                                  DownloadRun& run, BlockCounts& counts, std::string& error);
