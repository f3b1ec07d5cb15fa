#pragma once
// Test data for block descriptions: archives laid out like GTA's (entries on
// 2048-byte sectors) and their descriptions in the publisher's format,
// computed with the launcher's own sums.
#include <random>
#include <string>
#include <vector>

const unsigned TEST_BLOCK_SIZE = 2048;

std::string random_bytes(std::mt19937& random, size_t size);

// `count` entries of 1 to 40000 random bytes, each padded with zeros to its
// sector.
std::vector<std::string> archive_entries(std::mt19937& random, int count);

// A directory sector of random bytes, then the entries.
std::string archive(std::mt19937& random, const std::vector<std::string>& entries);

std::string describe_blocks(const std::string& data);
