// The page archive's reader on any archive and any name: open from memory,
// look the name up, extract. libFuzzer hands the input over in a block of
// its own size, and the archive ends where it ends, so a read one byte too
// far shows.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "launcher/browser/zip_reader.h"

namespace {

// Far above any page file: what the reader refuses to allocate.
const size_t MAX_ENTRY = 256u * 1024 * 1024;

void extract(mz_zip_archive& zip, const char* name) {
    size_t size = 12345;
    void* block = mz_zip_reader_extract_file_to_heap(&zip, name, &size, 0);
    if (!block) {
        FUZZ_CHECK(size == 0);
        return;
    }
    FUZZ_CHECK(size <= MAX_ENTRY);
    // Touch every byte: the block must really be that long.
    volatile unsigned char sum = 0;
    for (size_t i = 0; i < size; ++i) sum = sum + static_cast<unsigned char*>(block)[i];
    mz_free(block);
}

}  // namespace

// Input: one byte giving the name's length, the name, then the archive.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t name_length = data[0];
    if (name_length > size - 1) name_length = size - 1;
    const std::string name(reinterpret_cast<const char*>(data + 1), name_length);
    const uint8_t* archive = data + 1 + name_length;
    const size_t archive_size = size - 1 - name_length;

    mz_zip_archive zip{};
    if (!mz_zip_reader_init_mem(&zip, archive, archive_size, 0)) {
        FUZZ_CHECK(zip.m_pState == nullptr);
        return 0;
    }
    FUZZ_CHECK(zip.m_archive_size == archive_size);
    // A second init on an open record is refused and changes nothing.
    FUZZ_CHECK(!mz_zip_reader_init_mem(&zip, archive, archive_size, 0));
    extract(zip, name.c_str());
    extract(zip, "index.html");
    extract(zip, "");
    FUZZ_CHECK(mz_zip_reader_end(&zip));
    FUZZ_CHECK(zip.m_pState == nullptr);
    return 0;
}
