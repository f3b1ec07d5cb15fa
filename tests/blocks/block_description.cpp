#include "block_description.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "launcher/blocks/block_map.h"
#include "launcher/blocks/block_match.h"

namespace {

void put(std::string& out, uint64_t value, size_t count) {
    for (size_t i = 0; i < count; ++i) out += static_cast<char>(value >> (8 * i) & 0xff);
}

}  // namespace

std::string random_bytes(std::mt19937& random, size_t size) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xff);
    return bytes;
}

std::vector<std::string> archive_entries(std::mt19937& random, int count) {
    std::vector<std::string> entries;
    for (int i = 0; i < count; ++i) {
        std::string entry = random_bytes(random, 1 + random() % 40000);
        const size_t sectors = (entry.size() + TEST_BLOCK_SIZE - 1) / TEST_BLOCK_SIZE;
        entry.resize(sectors * TEST_BLOCK_SIZE, '\0');
        entries.push_back(entry);
    }
    return entries;
}

std::string archive(std::mt19937& random, const std::vector<std::string>& entries) {
    std::string bytes = random_bytes(random, TEST_BLOCK_SIZE);
    for (const std::string& entry : entries) bytes += entry;
    return bytes;
}

std::string describe_blocks(const std::string& data) {
    const BlockMapShape shape = block_map_shape(data.size(), TEST_BLOCK_SIZE);
    std::string out = "KVBLOCKS";
    put(out, BLOCK_MAP_VERSION, 4);
    put(out, TEST_BLOCK_SIZE, 4);
    put(out, data.size(), 8);
    put(out, shape.weak_bytes, 1);
    put(out, shape.strong_bytes, 1);
    put(out, 0, 2);
    for (size_t at = 0; at < data.size(); at += TEST_BLOCK_SIZE) {
        const auto* block = reinterpret_cast<const unsigned char*>(data.data()) + at;
        const size_t length = std::min<size_t>(TEST_BLOCK_SIZE, data.size() - at);
        RollingSum sum;
        sum.reset(block, length, TEST_BLOCK_SIZE);
        uint64_t strong = 0;
        EXPECT_TRUE(block_strong_sum(block, length, TEST_BLOCK_SIZE, strong));
        put(out, sum.value(), shape.weak_bytes);
        put(out, strong, shape.strong_bytes);
    }
    return out;
}
