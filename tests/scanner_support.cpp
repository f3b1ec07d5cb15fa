#include "scanner_support.h"

#include "test_support.h"

namespace {

int next_tag = 0;

}  // namespace

ScannerStandIn::ScannerStandIn(const std::vector<std::wstring>& folders, DWORD hold_ms) {
    const std::wstring name = L"Local\\KorvalScanner" + std::to_wstring(GetCurrentProcessId()) +
                              L"_" + std::to_wstring(++next_tag);
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, (name + L"_ready").c_str()));
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    report_ = std::wstring(temp) + L"korval_scanner_" + std::to_wstring(GetCurrentProcessId()) +
              L"_" + std::to_wstring(next_tag) + L".txt";
    std::wstring arguments = std::to_wstring(hold_ms) + L" " + name + L" \"" + report_ + L"\"";
    for (const std::wstring& folder : folders) arguments += L" \"" + folder + L"\"";
    process_.reset(start_process(exe_dir() + L"\\scanner_stub.exe", arguments));
    if (process_.valid() && WaitForSingleObject(ready.get(), 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process_.get(), 1);
        process_.reset();
    }
}

ScannerStandIn::~ScannerStandIn() { stop(); }

std::vector<std::string> ScannerStandIn::stop() {
    std::vector<std::string> paths;
    if (!process_.valid()) return paths;
    SetEvent(stop_.get());
    if (WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0)
        TerminateProcess(process_.get(), 1);
    process_.reset();
    const std::string text = read_file(report_);
    DeleteFileW(report_.c_str());
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t tab = line.find('\t');
        const size_t last = line.rfind('\t');
        if (tab != std::string::npos && last > tab) paths.push_back(line.substr(tab + 1, last - tab - 1));
        start = end + 1;
    }
    return paths;
}

FileHolder::FileHolder(const std::wstring& path, Hold how) {
    const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"_" +
                             std::to_wstring(++next_tag);
    const std::wstring ready_name = L"Local\\KorvalHoldReady" + tag;
    const std::wstring release_name = L"Local\\KorvalHoldRelease" + tag;
    UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
    release_.reset(CreateEventW(nullptr, TRUE, FALSE, release_name.c_str()));
    process_.reset(start_process(exe_dir() + L"\\hold_file.exe",
                                 L"\"" + path + L"\" " + ready_name + L" " + release_name +
                                     (how == Hold::Scanner  ? L" scanner"
                                      : how == Hold::Writer ? L" writer"
                                                            : L"")));
    holding_ = process_.valid() && WaitForSingleObject(ready.get(), 10000) == WAIT_OBJECT_0;
}

void FileHolder::release() {
    if (!process_.valid()) return;
    SetEvent(release_.get());
    if (WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0)
        TerminateProcess(process_.get(), 1);
    process_.reset();
    holding_ = false;
}
