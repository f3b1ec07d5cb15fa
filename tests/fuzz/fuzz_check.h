#pragma once
// What a fuzz target asserts beyond "no sanitizer report": a property of the
// reader's result that must hold for every input. A failed one aborts, which
// libFuzzer reports as a crash with the input that caused it.
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                             \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__,      \
                         #condition);                                                     \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

inline std::string fuzz_text(const unsigned char* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}
