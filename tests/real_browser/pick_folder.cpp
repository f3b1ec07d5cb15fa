// Answers the launcher's folder dialog as a player does: waits for it, types
// the folder into its name box and confirms. Runs under Wine beside the
// launcher, in the same prefix, so that it sees the launcher's windows.
// Usage: pick_folder.exe FOLDER    exit code 0 when the dialog was answered,
//                                  1 when none appeared within 20 s.
#include <windows.h>

namespace {

const wchar_t DIALOG_TITLE[] = L"Куда установить игру KORVAL";
const int NAME_BOX = 1152;  // the dialog's folder name field

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    for (int i = 0; i < 400; ++i) {
        HWND dialog = FindWindowW(L"#32770", DIALOG_TITLE);
        if (dialog && IsWindowVisible(dialog) && GetDlgItem(dialog, NAME_BOX)) {
            // The dialog fills its box with the starting folder once it has
            // settled; a name typed before that would be overwritten.
            Sleep(300);
            wchar_t typed[MAX_PATH] = {};
            SetDlgItemTextW(dialog, NAME_BOX, argv[1]);
            GetDlgItemTextW(dialog, NAME_BOX, typed, MAX_PATH);
            if (lstrcmpW(typed, argv[1]) != 0) continue;
            PostMessageW(dialog, WM_COMMAND, IDOK, 0);
            return 0;
        }
        Sleep(50);
    }
    return 1;
}
