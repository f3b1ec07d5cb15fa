#pragma once
// What the player asks of Windows itself from the page: a text on the
// clipboard, the log in a text viewer, the game folder in Explorer. Window
// thread only (the thread has COM, which the shell's calls need).
#include <string>

#include <windows.h>

// Puts `text` on the clipboard as CF_UNICODETEXT. Another program may hold
// the clipboard for a moment (clipboard managers, remote desktop), so the
// open is tried a few times.
bool copy_to_clipboard(HWND owner, const std::wstring& text, std::string& error);

enum class OpenedWith { Viewer, Notepad, Failed };

// Opens a copy of a text file that this process keeps open for writing, as
// it is now, with the system's viewer for ".txt" files (Notepad where there is
// none). A copy, because a viewer or the shell itself may open the file
// without sharing writing, which the writer's open handle refuses. The copy is
// `copy_name` in the user's temporary folder, in UTF-8 with a byte-order mark
// whatever mix of UTF-8 and the ANSI code page the file holds (the log holds
// both; mixed_text_to_utf8). No "open with" question is shown.
OpenedWith open_text_copy(HWND owner, const std::wstring& path, const wchar_t* copy_name,
                          std::string& error);

// Opens a folder in Explorer.
bool open_folder(HWND owner, const std::wstring& path, std::string& error);
