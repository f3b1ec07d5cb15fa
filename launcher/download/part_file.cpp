#include "launcher/download/part_file.h"

#include <memory>

#include "launcher/net/sha256.h"

namespace {

const DWORD READ_BLOCK_BYTES = 1048576;
// Scanners and indexers read new files while they are written; letting them
// costs nothing, while no other writer, rename or delete gets in.
const DWORD PART_SHARING = FILE_SHARE_READ;

enum class HeadRead { Read, Unreadable, Stopped };

// The head of a large partial takes seconds to read: a stop must not wait for
// it, or the stopped job outlives its stop and holds the partial the next
// job's workers need.
HeadRead hash_head(HANDLE file, uint64_t length, Sha256Hasher& hasher,
                   const std::atomic<int32_t>& stop) {
    std::unique_ptr<char[]> buffer(new char[READ_BLOCK_BYTES]);
    uint64_t left = length;
    while (left > 0) {
        if (stop.load() != 0) return HeadRead::Stopped;
        DWORD want = left < READ_BLOCK_BYTES ? static_cast<DWORD>(left) : READ_BLOCK_BYTES;
        DWORD got = 0;
        if (!ReadFile(file, buffer.get(), want, &got, nullptr) || got != want)
            return HeadRead::Unreadable;
        hasher.update(buffer.get(), got);
        left -= got;
    }
    return HeadRead::Read;
}

}  // namespace

std::string with_error_code(const char* prefix, unsigned long code) {
    return prefix + std::to_string(code) + ")";
}

uint64_t open_file_size(HANDLE file) {
    LARGE_INTEGER size;
    return GetFileSizeEx(file, &size) && size.QuadPart > 0 ? static_cast<uint64_t>(size.QuadPart)
                                                           : 0;
}

PartOpen open_part_file(const std::wstring& part_path, uint64_t size, Sha256Hasher& hasher,
                        const std::atomic<int32_t>& stop, PartFile& part, std::string& error) {
    part.offset = 0;
    // Only a partial that is there is resumed; one that vanished is created
    // anew below, from byte 0, never under a digest of what was there before.
    part.file.reset(CreateFileW(part_path.c_str(), GENERIC_READ | GENERIC_WRITE, PART_SHARING,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (part.file.valid()) {
        const uint64_t there = open_file_size(part.file.get());
        if (there != 0 && there <= size) {
            HeadRead head = hash_head(part.file.get(), there, hasher, stop);
            if (head == HeadRead::Stopped) return PartOpen::Stopped;
            if (head == HeadRead::Read) {
                part.offset = there;
            } else {
                hasher.close();
                hasher.open();
            }
        }
    } else {
        part.file.reset(CreateFileW(part_path.c_str(), GENERIC_READ | GENERIC_WRITE, PART_SHARING,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!part.file.valid()) {
            const DWORD code = GetLastError();
            error = with_error_code("не удалось создать файл (", code);
            return PartOpen::Failed;
        }
    }
    // Whatever lies past the hashed bytes was never hashed: cut it off.
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(part.offset);
    if (!SetFilePointerEx(part.file.get(), at, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(part.file.get())) {
        const DWORD code = GetLastError();
        error = with_error_code("не удалось записать на диск (", code);
        part.file.reset();
        return PartOpen::Unwritable;
    }
    return PartOpen::Ready;
}
