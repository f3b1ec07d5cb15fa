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
const uint32_t BLOCK_MAP_VERSION = 2;
const size_t BLOCK_MAP_HEADER_BYTES = 28;
const uint32_t BLOCK_SIZE_MIN = 512;
const uint32_t BLOCK_SIZE_MAX = 1048576;
// 2 GiB at 2048-byte blocks. The matcher keeps about 100 bytes per block in
// memory while it plans (the description, the kinds, the pairs and their
// table, each search's finds), and four downloads may plan at once in a
// 32-bit launcher: 400 MB at most.
const uint64_t BLOCK_MAP_MAX_BLOCKS = 1u << 20;

// How long the sums of a file's description are. They grow with the file,
// so that a chance match stays as rare in a large file as in a small one:
// a block is taken only when it and its neighbour both agree.
struct BlockMapShape {
    uint64_t blocks = 0;
    uint32_t weak_bytes = 0;    // 2 to 4: the low bytes of RollingSum::value()
    uint32_t strong_bytes = 0;  // 4 to 8: the first bytes of the block's SHA-256
    uint64_t bytes = 0;         // the whole description; 0 when none is taken
};

// The shape of the description of a file of `file_size` bytes; `bytes` is 0
// when the block size is no power of two from 512 to 1 MiB or the file has
// more than BLOCK_MAP_MAX_BLOCKS blocks.
BlockMapShape block_map_shape(uint64_t file_size, uint64_t block_size);

struct BlockSum {
    uint32_t weak = 0;    // weak_bytes of them
    uint64_t strong = 0;  // strong_bytes of the digest, the first one lowest
};

struct BlockMap {
    uint32_t block_size = 0;
    uint64_t file_size = 0;
    uint32_t weak_bytes = 0;
    uint32_t strong_bytes = 0;
    std::vector<BlockSum> blocks;  // ceil(file_size / block_size) of them
};

// Reads a description of a file of `file_size` bytes in blocks of
// `block_size`, as the manifest declared them. False with a line for the log
// in `error` when the bytes are not exactly such a description.
bool read_block_map(const std::string& bytes, uint64_t file_size, uint32_t block_size,
                    BlockMap& map, std::string& error);

// rsync's weak checksum of a window of `block_size` bytes: the byte sum and
// the sum of the running sums, each modulo 2^16. The second, which is spread
// over all its values where the first bunches, is the low half.
class RollingSum {
public:
    // `data` holds `size` bytes; the rest of the window counts as zeros.
    void reset(const unsigned char* data, size_t size, uint32_t block_size);
    // Moves the window one byte on: `out` leaves it, `in` enters.
    void roll(unsigned char out, unsigned char in) {
        a_ += static_cast<uint32_t>(in) - out;
        b_ += a_ - block_size_ * static_cast<uint32_t>(out);
    }
    uint32_t value() const { return (b_ & 0xffff) | (a_ << 16); }

private:
    uint32_t a_ = 0;
    uint32_t b_ = 0;
    uint32_t block_size_ = 0;
};

// The low `bytes` bytes of a weak checksum, as a description keeps them.
inline uint32_t weak_part(uint32_t value, uint32_t bytes) {
    return bytes >= 4 ? value : value & ((1u << (8 * bytes)) - 1);
}
