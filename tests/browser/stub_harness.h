#pragma once
// A launcher folder of its own for one test, with the stand-in runtime as
// cef\libcef.dll, and a window that hosts the stand-in's browser the way the
// launcher's main window does.
//
// A scenario is plain text, one step a line (tools/cef_stub/README.md):
//   StubRun run;
//   run.write_scenario("console __launcher__:{\"type\":\"ready\"}\nclose\n");
//   ASSERT_TRUE(run.init());
//   run.host_browser();           // returns when the window is gone
//   run.report_lines("script")    // what the launcher ran in the page
#include <string>
#include <vector>

#include "launcher/browser/cef_objects.h"
#include "test_support.h"

struct FetchRecord {
    std::string url;
    int status = 0;
    std::string mime_type;
    long long length = -1;
    std::string flow;  // "open=1,1 skip=0,0 freed=1"
    std::string body;
};

// A structure size as the report shows it: the runtime's own 32-bit figure,
// or in a 64-bit test build that build's size of the same structure.
inline std::string abi_size(unsigned size_32bit, size_t size_here) {
    return std::to_string(sizeof(void*) == 4 ? size_32bit : size_here);
}

class StubRun {
public:
    // `variant` is "full" or "lacking"; with `with_runtime` false the folder
    // has no cef folder at all.
    explicit StubRun(const char* variant = "full", bool with_runtime = true, bool dev = false);
    ~StubRun();
    StubRun(const StubRun&) = delete;
    StubRun& operator=(const StubRun&) = delete;

    const TempDir& dir() const { return dir_; }
    std::string app_dir_ansi() const;

    void write_scenario(const std::string& text);
    // init_browser_runtime for this folder, with the log in the folder.
    bool init();
    // Creates a top-level window with the launcher's window procedure, the
    // browser in it, and runs the runtime's message loop until the window is
    // destroyed (or `limit_ms` have passed). Shown only when `visible`.
    void host_browser(bool visible = false, UINT limit_ms = 15000);
    // The last host_browser ran into its limit (and destroyed the window itself).
    bool overdue() const;

    std::vector<std::string> report() const;
    // The report's lines that begin with `prefix`, without it.
    std::vector<std::string> report_lines(const std::string& prefix) const;
    std::vector<FetchRecord> fetches() const;
    // The JSON of every event the launcher sent to the page, in order.
    std::vector<std::string> events() const;
    // The log's messages, without their time stamps.
    std::vector<std::string> log() const;

private:
    TempDir dir_;
    std::wstring library_;
};

// The report's text for bytes (as the stand-in escapes them).
std::string unescape(const std::string& text);
