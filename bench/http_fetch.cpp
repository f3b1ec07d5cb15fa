// Fetches one server path into a file with the launcher's HTTP client, as a
// download worker does, and prints the bytes and the time taken.
// Usage: http_fetch.exe SERVER_PATH OUT_FILE [--hash]
#include <atomic>
#include <cstdio>
#include <string>

#include <windows.h>

#include "launcher/core/win_handles.h"
#include "launcher/net/http_client.h"
#include "launcher/net/sha256.h"
#include "launcher/session/text_convert.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 4) return 2;
    const bool hash = argc == 4 && std::wstring(argv[3]) == L"--hash";
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);

    UniqueHandle file(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return 1;
    std::atomic<uint64_t> progress{0};
    std::atomic<int32_t> stop{0};
    std::string error;
    bool discard = false;
    // With --hash each block is hashed as the download workers do.
    Sha256Hasher hasher;
    if (hash) hasher.open();
    bool ok = http_get_to_file(wide_to_narrow(argv[1]), 0, file.get(), hash ? &hasher : nullptr,
                               progress, stop, error, discard);
    std::string digest = hasher.hex_digest();
    QueryPerformanceCounter(&end);
    double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    std::printf("%s %llu bytes %.3f s %s\n", ok ? "ok" : "failed",
                static_cast<unsigned long long>(progress.load()), seconds, digest.c_str());
    return ok ? 0 : 1;
}
