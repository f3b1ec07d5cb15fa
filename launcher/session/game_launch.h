#pragma once
// The start of the game: the nick and the game's path go into the SA-MP
// client's own registry key, then samp.exe starts from the game folder with
// the server address as its one argument, and the launcher closes 1.5 s later.

#include <string>

// HKCU "Software\SAMP" value `name` = `value` (REG_SZ, ANSI). A key that
// cannot be opened is skipped silently; a value that cannot be set is logged.
void write_samp_setting(const char* name, const std::string& value);

// WM_START_GAME on the window thread: the game files are ready.
void launch_game();
