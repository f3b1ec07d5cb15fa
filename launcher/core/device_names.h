#pragma once
// Windows reserves the DOS device names in every folder: "NUL", "com1.js" or
// "aux.tar.gz" open a device, never a file, wherever they stand.
#include <string>

// True for CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9 and LPT1-9, in any
// letter case, whatever follows the first dot, with trailing blanks ignored.
bool is_device_name(const std::string& path_component);
