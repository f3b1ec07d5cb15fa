#pragma once
// Where the game is: the test for a game folder and the install folder that
// the launcher remembers in HKCU "Software\KORVAL" value "GameDir".
#include <string>

// True when the folder holds both gta_sa.exe and samp.exe (entries of any kind).
bool game_present(const std::wstring& folder);
// The same for an ANSI path; an empty path is no game folder.
bool game_present_ansi(const std::string& folder_ansi);

// The saved folder in the ANSI code page, or empty when none can be read.
std::string read_game_dir_setting();

// Saves a UTF-8 folder; true only when the value was written.
bool write_game_dir_setting(const std::string& folder_utf8);
