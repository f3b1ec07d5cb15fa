// The project's own ZIP reader behind miniz's reader calls: the classic
// format only (no ZIP64, no encryption, no multi-disk archives), entries
// stored or deflated. Every offset and size read from the archive is checked
// against the archive's bounds before it is used, since the fall-back archive
// is an ordinary file that anything may have written.
#include "zip_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <zlib.h>

#include "zip_source.h"

namespace {

const uint32_t EOCD_SIGNATURE = 0x06054b50;
const uint32_t CENTRAL_SIGNATURE = 0x02014b50;
const uint32_t LOCAL_SIGNATURE = 0x04034b50;
const size_t EOCD_SIZE = 22;
const size_t CENTRAL_SIZE = 46;
const size_t LOCAL_SIZE = 30;
const size_t MAX_COMMENT = 65535;
// Far above any page file; refuses the allocation a forged size would ask for.
const uint32_t MAX_ENTRY_SIZE = 256u * 1024 * 1024;
const uint32_t MAX_CENTRAL_DIRECTORY = 64u * 1024 * 1024;

struct ZipEntry {
    std::string name;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint32_t compressed_size = 0;
    uint32_t size = 0;
    uint32_t local_offset = 0;
};

struct ZipState {
    const unsigned char* memory = nullptr;  // archive in memory, or
    std::unique_ptr<ZipSource> file;        // archive in a file
    uint64_t size = 0;
    uint64_t central_offset = 0;
    std::vector<ZipEntry> entries;

    bool read_at(uint64_t offset, size_t length, void* out) const {
        if (offset > size || length > size - offset) return false;
        if (memory) {
            std::memcpy(out, memory + offset, length);
            return true;
        }
        return file->read_at(offset, length, out);
    }
};

uint16_t u16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t u32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool read_central_directory(ZipState& state) {
    if (state.size < EOCD_SIZE) return false;
    size_t tail_length = static_cast<size_t>(
        state.size < EOCD_SIZE + MAX_COMMENT ? state.size : EOCD_SIZE + MAX_COMMENT);
    uint64_t tail_offset = state.size - tail_length;
    std::vector<unsigned char> tail(tail_length);
    if (!state.read_at(tail_offset, tail_length, tail.data())) return false;

    // The end record is the last signature whose comment fits the archive.
    size_t eocd = tail_length;
    for (size_t i = tail_length - EOCD_SIZE + 1; i-- > 0;) {
        if (u32(&tail[i]) == EOCD_SIGNATURE &&
            i + EOCD_SIZE + u16(&tail[i + 20]) <= tail_length) {
            eocd = i;
            break;
        }
    }
    if (eocd == tail_length) return false;
    const unsigned char* end = &tail[eocd];
    uint16_t disk = u16(end + 4), central_disk = u16(end + 6);
    uint16_t on_disk = u16(end + 8), total = u16(end + 10);
    uint32_t central_size = u32(end + 12), central_offset = u32(end + 16);
    if (disk != 0 || central_disk != 0 || on_disk != total) return false;
    uint64_t eocd_offset = tail_offset + eocd;
    if (central_offset > eocd_offset || central_size > eocd_offset - central_offset) return false;
    if (central_size > MAX_CENTRAL_DIRECTORY) return false;

    std::vector<unsigned char> central(central_size);
    if (central_size && !state.read_at(central_offset, central_size, central.data()))
        return false;
    state.central_offset = central_offset;
    state.entries.clear();
    // The count is the archive's word: reserve no more than its directory can hold.
    state.entries.reserve(std::min<size_t>(total, central_size / CENTRAL_SIZE));
    size_t at = 0;
    for (uint16_t n = 0; n < total; ++n) {
        if (central_size - at < CENTRAL_SIZE) return false;
        const unsigned char* h = &central[at];
        if (u32(h) != CENTRAL_SIGNATURE) return false;
        size_t name_length = u16(h + 28);
        size_t record = CENTRAL_SIZE + name_length + u16(h + 30) + u16(h + 32);
        if (central_size - at < record) return false;
        ZipEntry entry;
        entry.flags = u16(h + 8);
        entry.method = u16(h + 10);
        entry.crc = u32(h + 16);
        entry.compressed_size = u32(h + 20);
        entry.size = u32(h + 24);
        entry.local_offset = u32(h + 42);
        entry.name.assign(reinterpret_cast<const char*>(h + CENTRAL_SIZE), name_length);
        // Entries lie before the central directory; a ZIP64 marker lies anywhere.
        if (entry.local_offset >= central_offset) return false;
        state.entries.push_back(std::move(entry));
        at += record;
    }
    return true;
}

bool same_name(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (y == 0) return false;
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return b[i] == 0;
}

bool inflate_raw(const unsigned char* in, uint32_t in_size, unsigned char* out,
                 uint32_t out_size) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
    stream.next_in = const_cast<unsigned char*>(in);
    stream.avail_in = in_size;
    stream.next_out = out;
    stream.avail_out = out_size;
    int result = inflate(&stream, Z_FINISH);
    bool complete = result == Z_STREAM_END && stream.total_out == out_size;
    inflateEnd(&stream);
    return complete;
}

// The entry's bytes into `out` (entry.size bytes), checked against its CRC-32.
bool extract_entry(const ZipState& state, const ZipEntry& entry, unsigned char* out) {
    if (entry.flags & 1) return false;  // encrypted
    if (entry.method != 0 && entry.method != 8) return false;
    if (entry.method == 0 && entry.compressed_size != entry.size) return false;

    unsigned char local[LOCAL_SIZE];
    if (!state.read_at(entry.local_offset, LOCAL_SIZE, local)) return false;
    if (u32(local) != LOCAL_SIGNATURE) return false;
    uint64_t data_offset =
        static_cast<uint64_t>(entry.local_offset) + LOCAL_SIZE + u16(local + 26) + u16(local + 28);
    if (data_offset > state.central_offset ||
        entry.compressed_size > state.central_offset - data_offset)
        return false;

    if (entry.method == 0) {
        if (entry.size && !state.read_at(data_offset, entry.size, out)) return false;
    } else if (state.memory) {
        if (!inflate_raw(state.memory + data_offset, entry.compressed_size, out, entry.size))
            return false;
    } else {
        std::vector<unsigned char> packed(entry.compressed_size);
        if (entry.compressed_size &&
            !state.read_at(data_offset, entry.compressed_size, packed.data()))
            return false;
        if (!inflate_raw(packed.data(), entry.compressed_size, out, entry.size)) return false;
    }
    return crc32(0L, out, entry.size) == entry.crc;
}

// The reader's calls are a C interface: a failed allocation inside them is a
// failed call, never an exception that leaves them.
bool read_central_directory_safely(ZipState& state) {
    try {
        return read_central_directory(state);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool extract_entry_safely(const ZipState& state, const ZipEntry& entry, unsigned char* out) {
    try {
        return extract_entry(state, entry, out);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

mz_bool finish_init(mz_zip_archive* zip, ZipState* state) {
    if (!state) return 0;
    if (!read_central_directory_safely(*state)) {
        delete state;
        return 0;
    }
    zip->m_archive_size = state->size;
    zip->m_total_files = static_cast<mz_uint32>(state->entries.size());
    zip->m_pState = state;
    return 1;
}

}  // namespace

mz_bool zip_reader_init_source(mz_zip_archive* zip, std::unique_ptr<ZipSource> source,
                               uint64_t size) {
    if (!zip || zip->m_pState || !source) return 0;
    ZipState* state = new (std::nothrow) ZipState;
    if (!state) return 0;
    state->file = std::move(source);
    state->size = size;
    return finish_init(zip, state);
}

extern "C" {

mz_bool mz_zip_reader_init_mem(mz_zip_archive* pZip, const void* pMem, size_t size,
                               mz_uint flags) {
    if (!pZip || pZip->m_pState || !pMem) return 0;
    ZipState* state = new (std::nothrow) ZipState;
    if (!state) return 0;
    state->memory = static_cast<const unsigned char*>(pMem);
    state->size = size;
    return finish_init(pZip, state);
}

void* mz_zip_reader_extract_file_to_heap(mz_zip_archive* pZip, const char* pFilename,
                                         size_t* pSize, mz_uint flags) {
    if (pSize) *pSize = 0;
    if (!pZip || !pZip->m_pState || !pFilename) return nullptr;
    const ZipState* state = static_cast<const ZipState*>(pZip->m_pState);
    for (const ZipEntry& entry : state->entries) {
        if (!same_name(entry.name, pFilename)) continue;
        if (entry.size > MAX_ENTRY_SIZE) return nullptr;
        // One byte more than needed, so an empty entry still has a block.
        unsigned char* out = static_cast<unsigned char*>(std::malloc(entry.size + 1));
        if (!out) return nullptr;
        if (!extract_entry_safely(*state, entry, out)) {
            std::free(out);
            return nullptr;
        }
        if (pSize) *pSize = entry.size;
        return out;
    }
    return nullptr;
}

void mz_free(void* p) { std::free(p); }

mz_bool mz_zip_reader_end(mz_zip_archive* pZip) {
    if (!pZip || !pZip->m_pState) return 0;
    delete static_cast<ZipState*>(pZip->m_pState);
    pZip->m_pState = nullptr;
    pZip->m_total_files = 0;
    pZip->m_archive_size = 0;
    return 1;
}

}  // extern "C"
