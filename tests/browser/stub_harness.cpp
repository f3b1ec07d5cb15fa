#include "stub_harness.h"

#include <gtest/gtest.h>

#include "launcher/browser/browser_client.h"
#include "launcher/browser/browser_runtime.h"
#include "launcher/browser/cef_api.h"
#include "launcher/core/log.h"
#include "launcher/core/main_window.h"
#include "launcher/core/session_state.h"
#include "launcher/session/text_convert.h"

namespace {

// A run that does not end by itself is ended, so that a test fails instead of hanging.
bool run_was_overdue = false;
void CALLBACK end_overdue_run(HWND, UINT, UINT_PTR, DWORD) {
    run_was_overdue = true;
    if (main_window) DestroyWindow(main_window);
}

std::vector<std::string> split_lines(const std::string& text, const char* separator) {
    std::vector<std::string> out;
    size_t start = 0, end, step = std::string(separator).size();
    while ((end = text.find(separator, start)) != std::string::npos) {
        out.push_back(text.substr(start, end - start));
        start = end + step;
    }
    return out;
}

}  // namespace

StubRun::StubRun(const char* variant, bool with_runtime, bool dev) : dir_(L"браузер korval") {
    startup_options.app_dir = app_dir_ansi();
    startup_options.dev = dev;
    current_browser = nullptr;
    log_open(app_dir_ansi() + "\\korval_launcher.log", false);
    if (with_runtime) {
        CreateDirectoryW(dir_.file(L"cef").c_str(), nullptr);
        library_ = dir_.file(L"cef\\libcef.dll");
        std::wstring source = exe_dir() + L"\\cef_stub_" + utf8_to_wide(variant) + L"\\libcef.dll";
        CopyFileW(source.c_str(), library_.c_str(), FALSE);
    }
}

StubRun::~StubRun() {
    log_close();
    current_browser = nullptr;
    // The copy is unloaded so its folder can go; its windows go first.
    if (HMODULE module = library_.empty() ? nullptr : GetModuleHandleW(library_.c_str())) {
        if (auto shutdown = GetProcAddress(module, "cef_shutdown"))
            reinterpret_cast<void (*)()>(reinterpret_cast<void*>(shutdown))();
        FreeLibrary(module);
        // Every run ends with each reference the runtime handed over given
        // back, and none given back twice.
        for (const std::string& line : report())
            if (line.find(" references") != std::string::npos && line.rfind("!! ", 0) == 0)
                ADD_FAILURE() << line;
        for (const std::string& line : report())
            if (line == "!! reference released once too often") ADD_FAILURE() << line;
    }
}

std::string StubRun::app_dir_ansi() const { return wide_to_narrow(dir_.path(), CP_ACP); }

void StubRun::write_scenario(const std::string& text) {
    write_file(dir_.file(L"cef\\stub_scenario.txt"), text);
}

bool StubRun::init() { return init_browser_runtime(); }

void StubRun::host_browser(bool visible, UINT limit_ms) {
    // The launcher's own window procedure, in a class of the test's.
    static bool registered = false;
    if (!registered) {
        WNDCLASSW c{};
        c.lpfnWndProc = main_window_proc;
        c.hInstance = GetModuleHandleW(nullptr);
        c.lpszClassName = L"KorvalTestHost";
        c.hbrBackground = CreateSolidBrush(RGB(5, 5, 5));
        registered = RegisterClassW(&c) != 0;
    }
    closing = false;
    run_was_overdue = false;
    RECT area{0, 0, CLIENT_WIDTH, CLIENT_HEIGHT};
    AdjustWindowRect(&area, MAIN_WINDOW_STYLE, FALSE);
    main_window = CreateWindowExW(0, L"KorvalTestHost", MAIN_WINDOW_TITLE, MAIN_WINDOW_STYLE, 0, 0,
                                  area.right - area.left, area.bottom - area.top, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(main_window, nullptr);
    // Under Wine without a window manager, a shown window costs seconds to
    // take down: only the tests that are about the visible page show it.
    if (visible) ShowWindow(main_window, SW_SHOW);
    UINT_PTR overdue = SetTimer(nullptr, 0, limit_ms, end_overdue_run);
    create_browser_window();
    cef_api.run_message_loop();
    KillTimer(nullptr, overdue);
    if (IsWindow(main_window)) DestroyWindow(main_window);
    main_window = nullptr;
}

bool StubRun::overdue() const { return run_was_overdue; }

std::vector<std::string> StubRun::report() const {
    return split_lines(read_file(dir_.file(L"cef\\stub_report.txt")), "\n");
}

std::vector<std::string> StubRun::report_lines(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& line : report())
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line.substr(prefix.size()));
    return out;
}

std::vector<FetchRecord> StubRun::fetches() const {
    std::vector<FetchRecord> out;
    for (const std::string& line : report_lines("fetch\t")) {
        std::vector<std::string> f = split_lines(line + "\t", "\t");
        FetchRecord r;
        r.url = f.at(0);
        if (f.size() >= 6) {
            r.status = std::stoi(f[1]);
            r.mime_type = f[2];
            r.length = std::stoll(f[3]);
            r.flow = f[4];
            r.body = unescape(f[5]);
        }
        out.push_back(r);
    }
    return out;
}

std::vector<std::string> StubRun::events() const {
    const std::string head = "window.dispatchEvent(new CustomEvent('launcher',{detail:";
    const std::string tail = "}));";
    std::vector<std::string> out;
    for (const std::string& line : report_lines("script\t")) {
        std::string code = unescape(line.substr(line.find('\t', line.find('\t') + 1) + 1));
        if (code.compare(0, head.size(), head) == 0 && code.size() >= head.size() + tail.size())
            out.push_back(code.substr(head.size(), code.size() - head.size() - tail.size()));
    }
    return out;
}

std::vector<std::string> StubRun::log() const {
    std::vector<std::string> out;
    for (const std::string& line :
         split_lines(read_file(dir_.file(L"korval_launcher.log")), "\r\n"))
        out.push_back(line.size() > 13 ? line.substr(13) : std::string());
    return out;
}

std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}
