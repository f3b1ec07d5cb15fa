#pragma once
// The scanner stand-in (tools/scanner_stub) run beside a test: every file
// that appears or changes in the watched folders is held open without delete
// sharing until it has been quiet for a while, as a real-time scanner does.
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
