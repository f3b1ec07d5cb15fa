#pragma once
// Other programs holding the launcher's files, each from a process of its
// own. The scanner stand-in (tools/scanner_stub): every file that appears or
// changes in the watched folders is held open without delete sharing until
// it has been quiet for a while, as a real-time scanner does. A file holder
// (hold_file.exe): one file, until the test lets go.
#include <string>
#include <vector>

#include <windows.h>

#include "launcher/core/win_handles.h"

class ScannerStandIn {
public:
    // Starts watching; returns once the files already there are taken as
    // scanned. `running()` says whether that worked.
    ScannerStandIn(const std::vector<std::wstring>& folders, DWORD hold_ms);
    ~ScannerStandIn();
    ScannerStandIn(const ScannerStandIn&) = delete;
    ScannerStandIn& operator=(const ScannerStandIn&) = delete;

    bool running() const { return process_.valid(); }
    // Stops it; the paths it held (UTF-8), in the order it let them go.
    std::vector<std::string> stop();

private:
    UniqueHandle process_;
    UniqueHandle stop_;
    std::wstring report_;
};

// Holds `path` open from another process until destroyed or released.
enum class Hold {
    Game,     // for reading; others may read it only
    Scanner,  // for reading; others may also write it, but not rename or delete it
    Writer,   // for writing; others may read and write it, but not rename or delete it
};

class FileHolder {
public:
    FileHolder(const std::wstring& path, Hold how);
    ~FileHolder() { release(); }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    // True once the file is held.
    bool holding() const { return holding_; }
    void release();

private:
    UniqueHandle process_;
    UniqueHandle release_;
    bool holding_ = false;
};
