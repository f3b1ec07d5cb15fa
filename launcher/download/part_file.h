#pragma once
// The partial file of one download attempt, "<file>.part". Its head (what an
// earlier attempt or run left) is hashed and its tail appended through one
// handle that nobody else may open meanwhile, so the digest always covers the
// bytes that end up on disk: a partial deleted or replaced between the two
// would otherwise be recreated empty, padded with zeros up to the old length,
// and pass under the old head's digest.
#include <atomic>
#include <cstdint>
#include <string>

#include "launcher/core/win_handles.h"

class Sha256Hasher;

struct PartFile {
    UniqueHandle file;    // read and write access, no sharing
    uint64_t offset = 0;  // bytes already there and fed to the hasher
};

enum class PartOpen { Ready, Stopped, Unwritable, Failed };

// Opens `part_path` for an attempt at a file of `size` bytes, feeding the
// bytes already there to `hasher` (open and empty on entry) and leaving the
// file pointer after them, with nothing beyond. A partial that is missing,
// longer than `size` or cannot be read back is started again from byte 0 with
// the hasher restarted. Stopped, with the partial untouched, when `stop` is
// set during the re-hash; Unwritable, with the partial kept, when it cannot be
// cut after its hashed bytes (a full disk: a later attempt may do); Failed,
// with the reason in `error`, when the file cannot be opened for writing.
PartOpen open_part_file(const std::wstring& part_path, uint64_t size, Sha256Hasher& hasher,
                        const std::atomic<int32_t>& stop, PartFile& part, std::string& error);

// The size of the open file; 0 when it cannot be queried.
uint64_t open_file_size(HANDLE file);

// The text of a failure that carries a system error code: prefix, code, ")".
std::string with_error_code(const char* prefix, unsigned long code);
