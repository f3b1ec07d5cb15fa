#pragma once
// The block description of a large game file (docs/block_maps.md): for every
// block of the file a weak rolling checksum and the head of its SHA-256, so
// that a player's older copy of the file can give the blocks it already
// holds. The reader takes the server's bytes, bounded and checked against
// what the manifest declared; the checksums live here too, since the
// matcher rolls the same weak checksum over a local file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

const char BLOCK_MAP_MAGIC[] = "KVBLOCKS";
const size_t BLOCK_MAP_MAGIC_BYTES = 8;
const uint32_t BLOCK_MAP_VERSION = 1;
const size_t BLOCK_MAP_HEADER_BYTES = 24;
const size_t BLOCK_MAP_ENTRY_BYTES = 12;
const size_t BLOCK_STRONG_BYTES = 8;
const uint32_t BLOCK_SIZE_MIN = 512;
const uint32_t BLOCK_SIZE_MAX = 1048576;
// Files up to about 5.7 GB at 2048-byte blocks; kept in memory as read, so a
// 32-bit launcher must not be asked for more.
const uint64_t BLOCK_MAP_LIMIT = 33554432;

struct BlockSum {
    uint32_t weak = 0;
    uint64_t strong = 0;  // the digest's first 8 bytes, little-endian
};

struct BlockMap {
    uint32_t block_size = 0;
    uint64_t file_size = 0;
    std::vector<BlockSum> blocks;  // ceil(file_size / block_size) of them
};

// The size a description of a file of `file_size` bytes has; 0 when the
// block size is no power of two from 512 to 1 MiB, or the description
// would be over BLOCK_MAP_LIMIT.
uint64_t block_map_bytes(uint64_t file_size, uint64_t block_size);

// Reads a description of a file of `file_size` bytes in blocks of
// `block_size`, as the manifest declared them. False with a line for the log
// in `error` when the bytes are not exactly such a description.
bool read_block_map(const std::string& bytes, uint64_t file_size, uint32_t block_size,
                    BlockMap& map, std::string& error);

// rsync's weak checksum of a window of `block_size` bytes: the byte sum and
// the sum of the running sums, each modulo 2^16, as (b << 16) | a.
class RollingSum {
public:
    // `data` holds `size` bytes; the rest of the window counts as zeros.
    void reset(const unsigned char* data, size_t size, uint32_t block_size);
    // Moves the window one byte on: `out` leaves it, `in` enters.
    void roll(unsigned char out, unsigned char in) {
        a_ += static_cast<uint32_t>(in) - out;
        b_ += a_ - block_size_ * static_cast<uint32_t>(out);
    }
    uint32_t value() const { return (a_ & 0xffff) | (b_ << 16); }

private:
    uint32_t a_ = 0;
    uint32_t b_ = 0;
    uint32_t block_size_ = 0;
};
