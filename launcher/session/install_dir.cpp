#include "install_dir.h"

#include <cstdio>

#include <shlobj.h>
#include <shobjidl.h>

#include "launcher/core/busy_file.h"
#include "launcher/core/com_ptr.h"
#include "launcher/core/log.h"
#include "launcher/core/window_messages.h"
#include "launcher/download/file_index.h"
#include "launcher/session/game_dir_setting.h"
#include "launcher/session/json_writer.h"
#include "launcher/session/text_convert.h"

namespace {

const wchar_t PRODUCT_FOLDER[] = L"KORVAL";
const wchar_t DEFAULT_SUBFOLDER[] = L"Games\\KORVAL";
const wchar_t WRITE_TEST_PREFIX[] = L"kvl";
// Files only this launcher leaves in a folder it installs into and has not
// finished: the index (and the name it is written under), and the partials
// of the two files that make a folder the game's. Other partials are not
// among them: browsers keep their unfinished downloads as "*.part" too.
const wchar_t* const OWN_INSTALL_FILES[] = {L"korval_files.idx.tmp", L"gta_sa.exe.part",
                                            L"samp.exe.part"};
// A folder that someone else makes between the look and the probe sends the
// probe one level deeper; a few such races in a row count as a refusal.
const int FOLDER_PROBE_TRIES = 3;

const char MESSAGE_NOT_LOCAL[] = "Выберите папку на локальном диске.";
const char MESSAGE_CHARACTERS[] =
    "В пути есть символы, с которыми игра не запустится. Выберите другую папку.";
const char MESSAGE_NO_DRIVE[] = "Диск недоступен.";
const char MESSAGE_NO_WRITE[] =
    "Нет прав на запись в эту папку. Выберите другую (например, не Program Files).";
const char MESSAGE_NO_SPACE[] = "Недостаточно места на диске.";
const char MESSAGE_CREATE_FAILED[] = "Не удалось создать папку (ошибка %d).";

const wchar_t DIALOG_TITLE[] = L"Куда установить игру KORVAL";
const wchar_t DIALOG_OK_LABEL[] = L"Выбрать папку";

// Spelled out rather than taken from libuuid, whose MinGW copy lacks some of
// the shell's newer identifiers.
const CLSID FILE_OPEN_DIALOG_CLSID = {
    0xDC1C5A9C, 0xE88A, 0x4DDE, {0xA5, 0xA1, 0x60, 0xF8, 0x2A, 0x20, 0xAE, 0xF7}};
const IID FILE_OPEN_DIALOG_IID = {
    0xD57C7288, 0xD4AD, 0x4768, {0xBE, 0x02, 0x9D, 0x96, 0x95, 0x32, 0xD9, 0x60}};
const IID SHELL_ITEM_IID = {
    0x43826D1E, 0xE718, 0x42EE, {0xBC, 0x55, 0xA1, 0xE2, 0x61, 0xC3, 0x7B, 0xFE}};

const FILEOPENDIALOGOPTIONS FOLDER_OPTIONS =
    FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST;
static_assert(FOLDER_OPTIONS == 0x860);

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool is_directory(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool is_file(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring child_of(const std::wstring& folder, const wchar_t* name) {
    return folder + (folder.back() == L'\\' ? L"" : L"\\") + name;
}

// A picked folder like this is the install folder itself, to be resumed, not
// a parent to install below.
bool holds_unfinished_install(const std::wstring& folder) {
    if (is_file(child_of(folder, FILE_INDEX_NAME))) return true;
    for (const wchar_t* name : OWN_INSTALL_FILES)
        if (is_file(child_of(folder, name))) return true;
    return false;
}

bool has_entries(const std::wstring& folder) {
    std::wstring pattern = folder;
    if (pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    do {
        const wchar_t* name = entry.cFileName;
        bool dot = name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
        if (!dot) found = true;
    } while (!found && FindNextFileW(find, &entry));
    FindClose(find);
    return found;
}

// Only these characters survive the game's ANSI calls. A conversion that
// fails outright proves nothing, so it counts as unrepresentable, except
// under a UTF-8 ANSI code page, which has every character and refuses the
// best-fit flag.
bool representable_in_ansi(const std::wstring& path) {
    if (GetACP() == CP_UTF8) return true;
    BOOL used_default = FALSE;
    int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(),
                                     static_cast<int>(path.size()), nullptr, 0, nullptr,
                                     &used_default);
    return length > 0 && !used_default;
}

// Under Wine the call answers with a number even when it created nothing
// (a read-only drive), so only a file that is really there proves access.
bool can_create_file_in(const std::wstring& folder) {
    wchar_t name[MAX_PATH] = {};
    if (GetTempFileNameW(folder.c_str(), WRITE_TEST_PREFIX, 0, name) == 0) return false;
    if (GetFileAttributesW(name) == INVALID_FILE_ATTRIBUTES) return false;
    DeleteFileW(name);
    return true;
}

// The folder of `path` right below its nearest existing folder `existing`.
std::wstring first_missing_folder(const std::wstring& path, const std::wstring& existing) {
    size_t start = existing.size();
    while (start < path.size() && is_separator(path[start])) ++start;
    return path.substr(0, path.find_first_of(L"\\/", start));
}

// Windows lets a standard user make folders in the root of the system drive
// but not files, so a file test in the nearest existing folder would refuse
// C:\Games\KORVAL on every ordinary PC. A folder that is not there yet is
// judged by the install's own first step: making the first missing folder.
// The probe folder goes again at once, so a mere proposal leaves nothing
// behind; a folder that someone else made meanwhile is theirs and stays.
bool install_can_write(const std::wstring& path) {
    for (int attempt = 0; attempt < FOLDER_PROBE_TRIES; ++attempt) {
        const std::wstring existing = nearest_existing_folder(path);
        if (existing.empty()) return false;
        if (existing == path) return can_create_file_in(existing);
        const std::wstring probe = first_missing_folder(path, existing);
        if (CreateDirectoryW(probe.c_str(), nullptr)) {
            // A scanner or the indexer may hold the new folder for a moment;
            // a removal that still fails is logged there and judges nothing.
            DWORD error = 0;
            remove_folder_patiently(probe, error);
            return true;
        }
        const DWORD error = GetLastError();
        // A file holds that name: judged as before, by a file in the existing
        // folder; creating the install folder then reports the clash by its code.
        if (error == ERROR_ALREADY_EXISTS && !is_directory(probe))
            return can_create_file_in(existing);
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_PATH_NOT_FOUND) return false;
    }
    return false;
}

}  // namespace

std::wstring nearest_existing_folder(std::wstring path) {
    while (!path.empty()) {
        if (is_directory(path)) return path;
        size_t separator = path.find_last_of(L"\\/");
        if (separator == std::wstring::npos || separator < 2) return std::wstring();
        if (separator == 2) {
            if (path.size() <= 3) return std::wstring();
            path.resize(3);
            continue;
        }
        path.resize(separator);
    }
    return std::wstring();
}

std::string default_install_dir_among(const std::vector<DriveSpace>& drives) {
    wchar_t best_letter = L'C';
    uint64_t best_bytes = 0;
    for (const DriveSpace& drive : drives) {
        // A and B are floppy letters even where something else took them.
        if (drive.letter < L'C' || drive.letter > L'Z') continue;
        if (drive.type != DRIVE_FIXED || !drive.free_known) continue;
        if (drive.free_bytes > best_bytes) {
            best_letter = drive.letter;
            best_bytes = drive.free_bytes;
        }
    }
    std::wstring path = std::wstring(1, best_letter) + L":\\" + DEFAULT_SUBFOLDER;
    return wide_to_narrow(path, CP_UTF8);
}

std::string default_install_dir() {
    std::vector<DriveSpace> drives;
    DWORD mask = GetLogicalDrives();
    for (int bit = 2; bit <= 25; ++bit) {
        if (!(mask & (1u << bit))) continue;
        DriveSpace drive;
        drive.letter = static_cast<wchar_t>(L'A' + bit);
        wchar_t root[] = {drive.letter, L':', L'\\', 0};
        drive.type = GetDriveTypeW(root);
        if (drive.type == DRIVE_FIXED) {
            ULARGE_INTEGER available;
            if (GetDiskFreeSpaceExW(root, &available, nullptr, nullptr)) {
                drive.free_known = true;
                drive.free_bytes = available.QuadPart;
            }
        }
        drives.push_back(drive);
    }
    return default_install_dir_among(drives);
}

InstallDirCheck check_install_dir(const std::string& path_utf8, bool append_product_folder) {
    InstallDirCheck result;
    std::wstring path = utf8_to_wide(path_utf8, CP_UTF8);
    while (path.size() > 3 && is_separator(path.back())) path.pop_back();

    if (append_product_folder && is_directory(path) && !game_present(path) &&
        !holds_unfinished_install(path) && has_entries(path)) {
        if (path.back() != L'\\') path += L'\\';
        path += PRODUCT_FOLDER;
    }

    result.path = wide_to_narrow(path, CP_UTF8);
    result.game_present = game_present(path);

    if (path.size() <= 2 || path[1] != L':' || path[2] != L'\\') {
        result.error = MESSAGE_NOT_LOCAL;
        return result;
    }
    if (!representable_in_ansi(path)) {
        result.error = MESSAGE_CHARACTERS;
        return result;
    }
    std::wstring existing = nearest_existing_folder(path);
    if (existing.empty()) {
        result.error = MESSAGE_NO_DRIVE;
        return result;
    }
    ULARGE_INTEGER available;
    if (GetDiskFreeSpaceExW(existing.c_str(), &available, nullptr, nullptr))
        result.free_bytes = available.QuadPart;
    if (!install_can_write(path)) {
        result.error = MESSAGE_NO_WRITE;
        return result;
    }
    if (!result.game_present && result.free_bytes < NEED_BYTES) result.error = MESSAGE_NO_SPACE;
    return result;
}

bool create_install_dir(const std::string& path_utf8, std::string& error) {
    std::wstring path = utf8_to_wide(path_utf8, CP_UTF8);
    int code = SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    // "Already exists" also answers for a file of that name, which is no
    // place to install into: only a folder that is really there counts.
    bool exists = code == ERROR_SUCCESS || code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
    if (exists && is_directory(path)) return true;
    if (code == ERROR_SUCCESS) code = static_cast<int>(ERROR_DIRECTORY);
    char text[96];
    std::snprintf(text, sizeof text, MESSAGE_CREATE_FAILED, code);
    error = text;
    return false;
}

bool pick_install_dir(HWND owner, const std::string& candidate_utf8, std::string& picked_utf8) {
    ComPtr<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(FILE_OPEN_DIALOG_CLSID, nullptr, CLSCTX_INPROC_SERVER,
                                FILE_OPEN_DIALOG_IID, dialog.out_void()))) {
        log_line("!! install: no IFileOpenDialog");
        return false;
    }

    FILEOPENDIALOGOPTIONS options = 0;
    if (SUCCEEDED(dialog->GetOptions(&options))) dialog->SetOptions(options | FOLDER_OPTIONS);
    dialog->SetTitle(DIALOG_TITLE);
    dialog->SetOkButtonLabel(DIALOG_OK_LABEL);

    std::wstring start = nearest_existing_folder(utf8_to_wide(candidate_utf8, CP_UTF8));
    if (!start.empty()) {
        ComPtr<IShellItem> folder;
        if (SUCCEEDED(SHCreateItemFromParsingName(start.c_str(), nullptr, SHELL_ITEM_IID,
                                                  folder.out_void())))
            dialog->SetFolder(folder.get());
    }

    if (FAILED(dialog->Show(owner))) return false;

    ComPtr<IShellItem> item;
    if (FAILED(dialog->GetResult(item.out()))) return false;
    wchar_t* name = nullptr;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &name)) || !name) return false;
    picked_utf8 = wide_to_narrow(std::wstring(name), CP_UTF8);
    CoTaskMemFree(name);
    return true;
}

namespace {

// The dialog's own modal loop dispatches the window's posted messages, so a
// second WM_PICK_DIR (a double click on the page's button) arrives while the
// first dialog is still open.
bool dialog_open = false;
bool repeat_logged = false;

}  // namespace

void run_pick_flow() {
    if (dialog_open) {
        if (!repeat_logged) log_line("install: folder dialog already open, further picks ignored");
        repeat_logged = true;
        return;
    }
    dialog_open = true;
    repeat_logged = false;
    std::string picked;
    const bool chosen = pick_install_dir(main_window, session.candidate.path, picked);
    dialog_open = false;
    if (chosen) send_install_dir_event(check_install_dir(picked, true));
}
