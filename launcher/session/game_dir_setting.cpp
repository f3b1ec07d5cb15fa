#include "game_dir_setting.h"

#include <windows.h>

#include "launcher/core/win_handles.h"
#include "text_convert.h"

namespace {

const wchar_t SETTINGS_KEY[] = L"Software\\KORVAL";
const wchar_t GAME_DIR_VALUE[] = L"GameDir";

bool entry_exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool game_present(const std::wstring& folder) {
    if (folder.empty()) return false;
    return entry_exists(folder + L"\\gta_sa.exe") && entry_exists(folder + L"\\samp.exe");
}

bool game_present_ansi(const std::string& folder_ansi) {
    if (folder_ansi.empty()) return false;
    return game_present(utf8_to_wide(folder_ansi, CP_ACP));
}

std::string read_game_dir_setting() {
    RegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, key.out()) != ERROR_SUCCESS)
        return std::string();

    // 259 characters at most and always a terminating zero after them: the
    // system does not terminate REG_SZ data that was stored without one.
    wchar_t buffer[260] = {};
    DWORD type = 0;
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    LONG status = RegQueryValueExW(key.get(), GAME_DIR_VALUE, nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer), &size);
    if (status != ERROR_SUCCESS || type != REG_SZ) return std::string();
    return wide_to_narrow(std::wstring(buffer), CP_ACP);
}

bool write_game_dir_setting(const std::string& folder_utf8) {
    std::wstring folder = utf8_to_wide(folder_utf8, CP_UTF8);
    RegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, key.out(), nullptr) != ERROR_SUCCESS)
        return false;
    DWORD bytes = static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.get(), GAME_DIR_VALUE, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(folder.c_str()), bytes) == ERROR_SUCCESS;
}
