// Holds a file open for reading, without letting anyone write, rename or
// delete it, as a running game holds its files. With "scanner" last, others
// may write it but still not rename or delete it, as a security scanner
// holds a new file. With "writer" last, it holds the file open for writing,
// as a patcher or an unpacker does, letting others read and write but not
// rename or delete it.
// Usage: hold_file.exe PATH READY_EVENT RELEASE_EVENT [scanner|writer]
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 && argc != 5) return 2;
    const bool scanner = argc == 5 && wcscmp(argv[4], L"scanner") == 0;
    const bool writer = argc == 5 && wcscmp(argv[4], L"writer") == 0;
    const DWORD sharing = scanner || writer ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
    HANDLE file = CreateFileW(argv[1], writer ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                              sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
    int code = 3;
    if (ready && release) {
        SetEvent(ready);
        code = WaitForSingleObject(release, 60000) == WAIT_OBJECT_0 ? 0 : 4;
    }
    if (ready) CloseHandle(ready);
    if (release) CloseHandle(release);
    CloseHandle(file);
    return code;
}
