#include "launcher/download/local_file_hash.h"

#include <memory>

#include <windows.h>

#include "launcher/core/win_handles.h"
#include "launcher/net/sha256.h"

namespace {
const DWORD READ_BLOCK_BYTES = 1048576;
}

std::string hash_local_file(const std::wstring& path, uint64_t size,
                            const std::atomic<int32_t>& stop, uint64_t& hashed_bytes) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) return std::string();
    std::unique_ptr<char[]> buffer(new char[READ_BLOCK_BYTES]);
    Sha256Hasher hasher;
    hasher.open();
    uint64_t left = size;
    while (left > 0) {
        if (stop.load() != 0) return std::string();
        DWORD want = left < READ_BLOCK_BYTES ? static_cast<DWORD>(left) : READ_BLOCK_BYTES;
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer.get(), want, &got, nullptr) || got != want)
            return std::string();
        hasher.update(buffer.get(), got);
        left -= got;
        hashed_bytes += got;
    }
    return hasher.hex_digest();
}
