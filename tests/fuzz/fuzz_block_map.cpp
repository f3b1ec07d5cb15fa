// The block description of a large game file: an accepted description is
// exactly as long as its file and block size call for, describes that file,
// and written back gives the same bytes. The rolling checksum, rolled over
// the same bytes, agrees with one computed afresh at each offset (the first
// thousand: each costs a whole window).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "launcher/blocks/block_map.h"

namespace {

uint64_t little_endian(const std::string& bytes, size_t at, size_t count) {
    uint64_t value = 0;
    for (size_t i = count; i-- > 0;)
        value = value << 8 | static_cast<unsigned char>(at + i < bytes.size() ? bytes[at + i] : 0);
    return value;
}

void put(std::string& out, uint64_t value, size_t count) {
    for (size_t i = 0; i < count; ++i) out += static_cast<char>(value >> (8 * i) & 0xff);
}

void check_rolling(const std::string& bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const uint32_t window = 512;
    if (bytes.size() < window + 1) return;
    RollingSum rolled;
    rolled.reset(data, window, window);
    for (size_t at = 1; at + window <= bytes.size() && at < 1024; ++at) {
        rolled.roll(data[at - 1], data[at + window - 1]);
        RollingSum fresh;
        fresh.reset(data + at, window, window);
        FUZZ_CHECK(rolled.value() == fresh.value());
    }
}

// A file size for which `bytes` has the length of a description in blocks of
// `block_size`, the last block `cut` bytes short; 0 when there is none.
uint64_t fitting_file_size(size_t bytes, uint32_t block_size, uint32_t cut) {
    for (size_t record = 6; record <= 12; ++record) {
        if (bytes < BLOCK_MAP_HEADER_BYTES || (bytes - BLOCK_MAP_HEADER_BYTES) % record != 0)
            continue;
        const uint64_t blocks = (bytes - BLOCK_MAP_HEADER_BYTES) / record;
        if (blocks == 0) continue;
        const uint64_t file_size = blocks * block_size - cut;
        const BlockMapShape shape = block_map_shape(file_size, block_size);
        if (shape.bytes == bytes) return file_size;
    }
    return 0;
}

}  // namespace

// The first byte picks what the manifest declares: the description's own
// header values, a file size its length fits (so that valid descriptions
// are reached), or others.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string bytes = fuzz_text(data + 1, size - 1);
    uint64_t file_size = little_endian(bytes, 16, 8);
    uint32_t block_size = static_cast<uint32_t>(little_endian(bytes, 12, 4));
    if ((data[0] & 1) != 0) {
        block_size = 256u << (data[0] >> 1 & 7);
        file_size = fitting_file_size(bytes.size(), block_size, data[0] >> 4);
    }
    BlockMap map;
    std::string error;
    const bool ok = read_block_map(bytes, file_size, block_size, map, error);
    FUZZ_CHECK(ok == error.empty());
    check_rolling(bytes);
    if (!ok) return 0;

    const BlockMapShape shape = block_map_shape(file_size, block_size);
    FUZZ_CHECK(map.blocks.size() <= BLOCK_MAP_MAX_BLOCKS);
    FUZZ_CHECK(bytes.size() == shape.bytes);
    FUZZ_CHECK(map.block_size == block_size && map.file_size == file_size);
    FUZZ_CHECK(block_size >= BLOCK_SIZE_MIN && block_size <= BLOCK_SIZE_MAX);
    FUZZ_CHECK(map.blocks.size() == (file_size + block_size - 1) / block_size);
    FUZZ_CHECK(map.weak_bytes >= 2 && map.weak_bytes <= 4);
    FUZZ_CHECK(map.strong_bytes >= 4 && map.strong_bytes <= 8);
    std::string again(BLOCK_MAP_MAGIC, BLOCK_MAP_MAGIC_BYTES);
    put(again, BLOCK_MAP_VERSION, 4);
    put(again, block_size, 4);
    put(again, file_size, 8);
    put(again, map.weak_bytes, 1);
    put(again, map.strong_bytes, 1);
    put(again, 0, 2);
    for (const BlockSum& sum : map.blocks) {
        put(again, sum.weak, map.weak_bytes);
        put(again, sum.strong, map.strong_bytes);
    }
    FUZZ_CHECK(again == bytes);
    return 0;
}
