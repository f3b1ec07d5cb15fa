// Verifies a signed document's signature many times with the launcher's own
// code (CNG) and prints the time of one verification.
// Usage: verify_signature.exe DOCUMENT SIGNATURE PUBLIC_KEY_HEX RUNS
#include <cstdio>
#include <string>

#include <windows.h>

#include "launcher/net/release_verify.h"
#include "launcher/session/text_convert.h"

namespace {

std::string read_all(const wchar_t* path) {
    std::string bytes;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) return 2;
    const std::string document = read_all(argv[1]);
    const std::string signature = read_all(argv[2]);
    const std::vector<std::string> keys = {wide_to_narrow(argv[3], CP_UTF8)};
    const int runs = _wtoi(argv[4]);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    bool all = true;
    for (int i = 0; i < runs; ++i) {
        uint64_t release = 0;
        std::string reason;
        all = verify_document(SignedDocument::Manifest, document, signature, keys, release,
                              reason) &&
              all;
        if (!all) {
            std::printf("failed: %s\n", reason.c_str());
            return 1;
        }
    }
    QueryPerformanceCounter(&end);
    const double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    std::printf("ok %zu bytes %.6f s per verification\n", document.size(), seconds / runs);
    return 0;
}
