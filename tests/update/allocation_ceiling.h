#pragma once
// A ceiling on single allocations in this test program, to play a 32-bit
// launcher whose address space holds no free block of the size it asks for:
// while a ceiling is set, operator new refuses any block above it with
// std::bad_alloc, as a fragmented 2 GiB process does for a large body.
#include <cstddef>

class AllocationCeiling {
public:
    explicit AllocationCeiling(size_t largest_block);
    ~AllocationCeiling();
    AllocationCeiling(const AllocationCeiling&) = delete;
    AllocationCeiling& operator=(const AllocationCeiling&) = delete;

    // Blocks refused while this ceiling was set.
    int refusals() const;
};
