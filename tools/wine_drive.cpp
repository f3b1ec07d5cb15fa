// Defines or removes a drive letter of the running Wine prefix through Wine's
// mount manager. A link in the prefix's dosdevices folder alone reaches file
// calls at once, but GetLogicalDrives only lists drives the mount manager
// knows, and it reads that folder only when the prefix's wineserver starts.
// Usage: wine_drive.exe LETTER: UNIX_FOLDER   (a fixed drive there)
//        wine_drive.exe LETTER:               (the letter removed)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>
#include <winioctl.h>

namespace {

// Wine's own extension of the mount manager, in the layout of Wine 8 (MinGW's
// ddk/mountmgr.h carries an older, shorter one).
const DWORD IOCTL_DEFINE_UNIX_DRIVE =
    CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

struct UnixDrive {
    ULONG size;
    ULONG type;
    ULONG fs_type;
    DWORD serial;
    ULONGLONG unix_dev;
    WCHAR letter;
    USHORT mount_point_offset;
    USHORT device_offset;
    USHORT label_offset;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || argc > 3 || argv[1][0] == 0) {
        std::fprintf(stderr, "usage: wine_drive LETTER: [UNIX_FOLDER]\n");
        return 2;
    }
    std::string folder;
    if (argc == 3) {
        char path[4096] = {};
        if (!WideCharToMultiByte(CP_UTF8, 0, argv[2], -1, path, sizeof path, nullptr, nullptr)) {
            std::fprintf(stderr, "wine_drive: folder path too long\n");
            return 2;
        }
        folder = path;
    }

    std::vector<char> request(sizeof(UnixDrive) + folder.size() + 1);
    UnixDrive drive{};
    drive.size = static_cast<ULONG>(request.size());
    drive.letter = static_cast<WCHAR>(towlower(argv[1][0]));
    drive.type = folder.empty() ? DRIVE_NO_ROOT_DIR : DRIVE_FIXED;
    if (!folder.empty()) drive.mount_point_offset = sizeof(UnixDrive);
    std::memcpy(request.data(), &drive, sizeof drive);
    std::memcpy(request.data() + sizeof drive, folder.c_str(), folder.size() + 1);

    HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
    if (manager == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "wine_drive: no mount manager (%lu)\n", GetLastError());
        return 1;
    }
    DWORD returned = 0;
    const BOOL done = DeviceIoControl(manager, IOCTL_DEFINE_UNIX_DRIVE, request.data(),
                                      static_cast<DWORD>(request.size()), nullptr, 0, &returned,
                                      nullptr);
    const DWORD error = GetLastError();
    CloseHandle(manager);
    if (!done) {
        std::fprintf(stderr, "wine_drive: the mount manager refused (%lu)\n", error);
        return 1;
    }
    return 0;
}
