#include "allocation_ceiling.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<size_t> ceiling{static_cast<size_t>(-1)};
std::atomic<int> refused{0};

}  // namespace

// The program's own operator new replaces the library's for every caller in
// it, the launcher's static code included.
void* operator new(size_t size) {
    if (size > ceiling.load()) {
        ++refused;
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }

AllocationCeiling::AllocationCeiling(size_t largest_block) {
    refused = 0;
    ceiling = largest_block;
}

AllocationCeiling::~AllocationCeiling() { ceiling = static_cast<size_t>(-1); }

int AllocationCeiling::refusals() const { return refused.load(); }
