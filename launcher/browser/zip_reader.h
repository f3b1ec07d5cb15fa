#pragma once
// Reading the page archive: the five calls of the miniz ZIP reader that the
// page server uses. By default they come from the project's own reader on
// zlib's raw inflate; configured with KORVAL_USE_MINIZ the real miniz library
// provides them instead, and callers stay the same.
//
// As with miniz, an archive record must be zeroed before an init call, and
// entries are looked up by their full name without regard to ASCII letter
// case (flags 0). A malformed archive or entry makes the call fail; it never
// reads outside the archive.
#include <cstddef>

#ifdef KORVAL_USE_MINIZ
#include <miniz.h>
#else

extern "C" {

typedef int mz_bool;
typedef unsigned int mz_uint;
typedef unsigned int mz_uint32;
typedef unsigned long long mz_uint64;

struct mz_zip_archive {
    mz_uint64 m_archive_size;
    mz_uint32 m_total_files;
    void* m_pState;  // the reader's own state; null while closed
};

mz_bool mz_zip_reader_init_mem(mz_zip_archive* pZip, const void* pMem, size_t size,
                               mz_uint flags);
mz_bool mz_zip_reader_init_file(mz_zip_archive* pZip, const char* pFilename, mz_uint32 flags);
// The entry's bytes in a block for `mz_free`, or null when the entry is
// missing, damaged (CRC-32, sizes) or stored with an unsupported method.
void* mz_zip_reader_extract_file_to_heap(mz_zip_archive* pZip, const char* pFilename,
                                         size_t* pSize, mz_uint flags);
void mz_free(void* p);
mz_bool mz_zip_reader_end(mz_zip_archive* pZip);

}  // extern "C"

#endif
