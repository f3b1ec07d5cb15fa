// Plans one file's update from an older local copy with the launcher's
// matcher, as a download of a described file does, and prints the time and
// what the plan reuses and fetches.
// Usage: block_match.exe OLD_FILE DESCRIPTION
#include <atomic>
#include <cstdio>
#include <string>

#include <windows.h>

#include "launcher/core/win_handles.h"
#include "launcher/download/block_map.h"
#include "launcher/download/block_match.h"

namespace {

bool read_whole(const wchar_t* path, std::string& bytes) {
    UniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    LARGE_INTEGER size;
    if (!file.valid() || !GetFileSizeEx(file.get(), &size) ||
        static_cast<uint64_t>(size.QuadPart) > (uint64_t{1} << 26))
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    return bytes.empty() || (ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got,
                                      nullptr) &&
                             got == bytes.size());
}

uint64_t little_endian(const std::string& bytes, size_t at, size_t count) {
    uint64_t value = 0;
    for (size_t i = count; i-- > 0;) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    std::string bytes;
    if (!read_whole(argv[2], bytes) || bytes.size() < BLOCK_MAP_HEADER_BYTES) return 1;
    BlockMap map;
    std::string error;
    if (!read_block_map(bytes, little_endian(bytes, 16, 8),
                        static_cast<uint32_t>(little_endian(bytes, 12, 4)), map, error)) {
        std::printf("%s\n", error.c_str());
        return 1;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    BlockPlan plan;
    std::atomic<int32_t> stop{0};
    if (!plan_from_local_file(argv[1], map, stop, plan, error)) {
        std::printf("%s\n", error.c_str());
        return 1;
    }
    QueryPerformanceCounter(&end);
    const double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    std::printf("plan %.3f s reused %llu fetch %llu ranges %zu copies %zu\n", seconds,
                static_cast<unsigned long long>(plan.reused_bytes),
                static_cast<unsigned long long>(plan.fetch_bytes), plan.fetches.size(),
                plan.copies.size());
    return 0;
}
