// The stand-in for the SA-MP client: records how it was started (its command
// line, current folder, and the two values of HKCU "Software\SAMP" that the
// launcher writes) into "<name>_record.txt" beside itself, then exits. All
// texts are the ANSI bytes the process sees, one "name<TAB>value" line each.
#include <string>

#include <windows.h>

namespace {

std::string samp_value(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\SAMP", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "(no key)";
    char buffer[1024] = {};
    DWORD type = 0, size = sizeof buffer - 1;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "(none)";
    if (type != REG_SZ) return "(not REG_SZ)";
    return buffer;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char module[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    std::string record = module;
    size_t dot = record.find_last_of('.');
    record = record.substr(0, dot) + "_record.txt";

    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    std::string text = std::string("command_line\t") + GetCommandLineA() + "\r\n" +
                       "current_dir\t" + folder + "\r\n" +
                       "PlayerName\t" + samp_value("PlayerName") + "\r\n" +
                       "gta_sa_exe\t" + samp_value("gta_sa_exe") + "\r\n";

    // Appended: a second start shows as a second record.
    HANDLE file = CreateFileA(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return 0;
}
