#pragma once
// Which manifest paths the install folder can hold side by side. Windows
// folds letter case and drops trailing dots and blanks from every name, and
// it reserves the device names in any folder: two paths that end up naming
// one file would have two workers write one ".part", and a device name or a
// name of the launcher's own files cannot be installed at all.
#include <set>
#include <string>

// The path as Windows resolves it, for comparing entries: every component
// lower-cased (the paths are ASCII) with its trailing dots and blanks dropped.
std::string windows_path_key(const std::string& path);

// False for a path that names a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9,
// CONIN$, CONOUT$, with any extension) in any component, a component that
// Windows would resolve to its folder (".", only dots), a partial download
// ("*.part"), or the index and its temporary file at the top of the folder.
bool is_installable_path(const std::string& path);

// The files and folders of the manifest's entries so far, by their keys.
struct InstallPaths {
    std::set<std::string> files;
    std::set<std::string> folders;
};

// Adds the path; false when it names a file or folder that an earlier entry
// already claims (the same file, or a file where the other needs a folder).
bool claim_install_path(InstallPaths& paths, const std::string& path);
