#include "launcher/blocks/block_map.h"

#include <algorithm>
#include <cstring>

namespace {

uint64_t read_le(const unsigned char* p, size_t count) {
    uint64_t value = 0;
    for (size_t i = count; i-- > 0;) value = value << 8 | p[i];
    return value;
}

// ceil(log2(value)) for value >= 1.
uint32_t log2_ceil(uint64_t value) {
    uint32_t bits = 0;
    while (bits < 64 && (uint64_t{1} << bits) < value) ++bits;
    return bits;
}

uint32_t bytes_for_bits(uint32_t bits, uint32_t low, uint32_t high) {
    return std::min(high, std::max(low, (bits + 15) / 16));
}

}  // namespace

BlockMapShape block_map_shape(uint64_t file_size, uint64_t block_size) {
    BlockMapShape shape;
    if (block_size < BLOCK_SIZE_MIN || block_size > BLOCK_SIZE_MAX ||
        (block_size & (block_size - 1)) != 0)
        return shape;
    shape.blocks = file_size / block_size + (file_size % block_size != 0 ? 1 : 0);
    if (shape.blocks > BLOCK_MAP_MAX_BLOCKS) return shape;
    // A block is taken when it and its neighbour agree, so each sum counts
    // twice: the weak pair is looked up at every byte offset of the old
    // file against every pair of the new one, and a strong pair that agrees
    // by chance must stay rarer than 2^-20 over a whole file.
    const uint32_t size_bits = log2_ceil(std::max<uint64_t>(file_size, 1));
    const uint32_t weak_bits = size_bits + log2_ceil(block_size);
    shape.weak_bytes = bytes_for_bits(weak_bits > 8 ? weak_bits - 8 : 0, 2, 4);
    shape.strong_bytes =
        bytes_for_bits(20 + size_bits + log2_ceil(std::max<uint64_t>(shape.blocks, 1)), 4, 8);
    shape.bytes = BLOCK_MAP_HEADER_BYTES + (shape.weak_bytes + shape.strong_bytes) * shape.blocks;
    return shape;
}

bool read_block_map(const std::string& bytes, uint64_t file_size, uint32_t block_size,
                    BlockMap& map, std::string& error) {
    const BlockMapShape shape = block_map_shape(file_size, block_size);
    if (shape.bytes == 0) {
        error = "block map: no description of this size is taken";
        return false;
    }
    if (bytes.size() != shape.bytes) {
        error = "block map: " + std::to_string(bytes.size()) + " bytes, expected " +
                std::to_string(shape.bytes);
        return false;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    if (std::memcmp(p, BLOCK_MAP_MAGIC, BLOCK_MAP_MAGIC_BYTES) != 0) {
        error = "block map: not a block description";
        return false;
    }
    if (read_le(p + 8, 4) != BLOCK_MAP_VERSION) {
        error = "block map: version " + std::to_string(read_le(p + 8, 4)) + " is not known";
        return false;
    }
    if (read_le(p + 12, 4) != block_size || read_le(p + 16, 8) != file_size) {
        error = "block map: describes another block or file size than the manifest";
        return false;
    }
    if (p[24] != shape.weak_bytes || p[25] != shape.strong_bytes || p[26] != 0 || p[27] != 0) {
        error = "block map: sums of another length than a file of this size has";
        return false;
    }
    const size_t record = shape.weak_bytes + shape.strong_bytes;
    map.block_size = block_size;
    map.file_size = file_size;
    map.weak_bytes = shape.weak_bytes;
    map.strong_bytes = shape.strong_bytes;
    map.blocks.assign(static_cast<size_t>(shape.blocks), BlockSum{});
    for (size_t i = 0; i < map.blocks.size(); ++i) {
        const unsigned char* entry = p + BLOCK_MAP_HEADER_BYTES + i * record;
        map.blocks[i].weak = static_cast<uint32_t>(read_le(entry, shape.weak_bytes));
        map.blocks[i].strong = read_le(entry + shape.weak_bytes, shape.strong_bytes);
    }
    return true;
}

void RollingSum::reset(const unsigned char* data, size_t size, uint32_t block_size) {
    a_ = 0;
    b_ = 0;
    block_size_ = block_size;
    // Running sums: each byte counts once for itself and once per byte after
    // it in the window, zeros included.
    for (size_t i = 0; i < size; ++i) {
        a_ += data[i];
        b_ += (block_size - static_cast<uint32_t>(i)) * static_cast<uint32_t>(data[i]);
    }
}
