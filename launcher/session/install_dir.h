#pragma once
// The install folder: the proposed default, the system folder dialog, the
// ordered rules every candidate is checked against (with the Russian texts
// the page shows), and the creation of the accepted folder.
#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

#include "launcher/core/session_state.h"

// A folder without the game needs at least this much free space.
const uint64_t NEED_BYTES = 10000000000ull;

// The path itself when it is an existing folder, else its nearest existing
// parent (a drive root keeps its backslash); empty when not even the root is
// there, or for a path without a usable separator.
std::wstring nearest_existing_folder(std::wstring path);

// "Games\KORVAL" on the fixed drive with the most free space (C to Z, the
// earlier letter on a tie); "C:\Games\KORVAL" when no fixed drive answers.
std::string default_install_dir();

// One drive letter as the default folder's choice sees it.
struct DriveSpace {
    wchar_t letter = L'C';    // 'A' to 'Z'
    UINT type = 0;            // GetDriveTypeW's answer
    bool free_known = false;  // GetDiskFreeSpaceExW answered
    uint64_t free_bytes = 0;  // available to the caller
};

// The choice behind default_install_dir, over drives listed in letter order.
std::string default_install_dir_among(const std::vector<DriveSpace>& drives);

// Trims trailing separators, appends the product folder to a non-empty picked
// folder when `append_product_folder` (not to one that holds the game or an
// unfinished install of this launcher), and applies the rules in order: local
// disk, characters of the ANSI code page, drive, write access, space. The first
// failing rule's text is the result's error. Write access is a file made in an
// existing folder, and for a new one its first missing folder made and removed.
InstallDirCheck check_install_dir(const std::string& path_utf8, bool append_product_folder);

// Creates the folder with its missing parents; on failure `error` gets
// "Не удалось создать папку (ошибка N)." and the result is false.
bool create_install_dir(const std::string& path_utf8, std::string& error);

// The system's folder dialog, opened in the nearest existing folder of the
// current candidate. False when cancelled or when the dialog fails.
bool pick_install_dir(HWND owner, const std::string& candidate_utf8, std::string& picked_utf8);

// WM_PICK_DIR on the window thread: the dialog, then the check of the picked
// folder (with the product folder) sent to the page as the new candidate.
// A cancelled dialog sends nothing; picks while the dialog is open are ignored.
void run_pick_flow();
