// Hashes one file with the launcher's hasher in 1 MiB reads, as the game
// files check does, and prints the digest and the time taken.
// Usage: sha256_file.exe FILE
#include <cstdio>
#include <memory>

#include <windows.h>

#include "launcher/core/win_handles.h"
#include "launcher/net/sha256.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);

    UniqueHandle file(CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) return 1;
    const DWORD block = 1048576;
    std::unique_ptr<char[]> buffer(new char[block]);
    Sha256Hasher hasher;
    hasher.open();
    unsigned long long total = 0;
    DWORD got = 0;
    while (ReadFile(file.get(), buffer.get(), block, &got, nullptr) && got > 0) {
        hasher.update(buffer.get(), got);
        total += got;
    }
    std::string digest = hasher.hex_digest();
    hasher.close();

    QueryPerformanceCounter(&end);
    double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    std::printf("%s %llu bytes %.3f s\n", digest.c_str(), total, seconds);
    return digest.empty() ? 1 : 0;
}
