#include "launcher/download/block_map.h"

#include <cstring>

namespace {

uint32_t read_u32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t read_u64(const unsigned char* p) {
    return static_cast<uint64_t>(read_u32(p)) | static_cast<uint64_t>(read_u32(p + 4)) << 32;
}

}  // namespace

uint64_t block_map_bytes(uint64_t file_size, uint64_t block_size) {
    if (block_size < BLOCK_SIZE_MIN || block_size > BLOCK_SIZE_MAX ||
        (block_size & (block_size - 1)) != 0)
        return 0;
    const uint64_t blocks = file_size / block_size + (file_size % block_size != 0 ? 1 : 0);
    if (blocks > (BLOCK_MAP_LIMIT - BLOCK_MAP_HEADER_BYTES) / BLOCK_MAP_ENTRY_BYTES) return 0;
    return BLOCK_MAP_HEADER_BYTES + BLOCK_MAP_ENTRY_BYTES * blocks;
}

bool read_block_map(const std::string& bytes, uint64_t file_size, uint32_t block_size,
                    BlockMap& map, std::string& error) {
    const uint64_t expected = block_map_bytes(file_size, block_size);
    if (expected == 0) {
        error = "block map: no description of this size is taken";
        return false;
    }
    if (bytes.size() != expected) {
        error = "block map: " + std::to_string(bytes.size()) + " bytes, expected " +
                std::to_string(expected);
        return false;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    if (std::memcmp(p, BLOCK_MAP_MAGIC, BLOCK_MAP_MAGIC_BYTES) != 0) {
        error = "block map: not a block description";
        return false;
    }
    if (read_u32(p + 8) != BLOCK_MAP_VERSION) {
        error = "block map: version " + std::to_string(read_u32(p + 8)) + " is not known";
        return false;
    }
    if (read_u32(p + 12) != block_size || read_u64(p + 16) != file_size) {
        error = "block map: describes another block or file size than the manifest";
        return false;
    }
    const size_t count = (bytes.size() - BLOCK_MAP_HEADER_BYTES) / BLOCK_MAP_ENTRY_BYTES;
    map.block_size = block_size;
    map.file_size = file_size;
    map.blocks.assign(count, BlockSum{});
    for (size_t i = 0; i < count; ++i) {
        const unsigned char* entry = p + BLOCK_MAP_HEADER_BYTES + i * BLOCK_MAP_ENTRY_BYTES;
        map.blocks[i].weak = read_u32(entry);
        map.blocks[i].strong = read_u64(entry + 4);
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
