#pragma once
// The ZIP reader's view of an archive in a file: reads at offsets that the
// reader has already checked against the archive's size. Kept apart from the
// format code so that the format code builds without Windows (the fuzzers).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "zip_reader.h"

struct ZipSource {
    virtual ~ZipSource() = default;
    // Exactly `length` bytes at `offset`, or false.
    virtual bool read_at(uint64_t offset, size_t length, void* out) = 0;
};

// Opens `zip` on the archive behind `source`, `size` bytes long; the record
// owns the source from here on, also when the call fails.
mz_bool zip_reader_init_source(mz_zip_archive* zip, std::unique_ptr<ZipSource> source,
                               uint64_t size);
