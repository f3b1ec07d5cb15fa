#include "job_harness.h"

#include <gtest/gtest.h>

#include "content_server_support.h"
#include "launcher/core/log.h"
#include "launcher/core/window_messages.h"
#include "launcher/download/download_events.h"
#include "launcher/download/file_index.h"
#include "launcher/download/game_files_job.h"
#include "launcher/net/json_reader.h"
#include "launcher/net/sha256.h"
#include "launcher/session/text_convert.h"

const char GAME_BASE_PATH[] = "/pc/files";

std::string pattern_bytes(size_t size, unsigned seed) {
    std::string s(size, '\0');
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

std::string manifest_for(const std::vector<GameFile>& files) {
    std::string text = std::string("{\"basePath\": \"") + GAME_BASE_PATH + "\",\n \"files\": [\n";
    for (size_t i = 0; i < files.size(); ++i) {
        text += "  {\"url\": \"" + files[i].path + "\", \"hash\": \"" +
                sha256_hex(files[i].content) + "\", \"size\": " +
                std::to_string(files[i].content.size()) + "}";
        text += i + 1 < files.size() ? ",\n" : "\n";
    }
    return text + " ]\n}\n";
}

std::string described_manifest(const std::vector<GameFile>& files, const std::string& path,
                               const std::string& blocks) {
    std::string text = manifest_for(files);
    const std::string url = "\"url\": \"" + path + "\"";
    text.replace(text.find(url), url.size(),
                 url + ", \"blocksUrl\": \"" + path + ".blocks\", \"blocksSize\": " +
                     std::to_string(blocks.size()) + ", \"blocksHash\": \"" + sha256_hex(blocks) +
                     "\", \"blockSize\": 2048");
    return text;
}

void publish_game(const std::vector<GameFile>& files) {
    for (const GameFile& file : files)
        ASSERT_TRUE(put_server_file(std::string(GAME_BASE_PATH) + "/" + file.path, file.content));
    ASSERT_TRUE(put_server_file("/pc/manifest.json", manifest_for(files)));
}

std::vector<SeenRequest> seen_requests() {
    std::vector<SeenRequest> seen;
    for (const std::string& line : server_requests()) {
        SeenRequest r;
        r.path = json_field(line, "path");
        size_t range = line.find("[\"Range\", \"");
        if (range != std::string::npos) {
            size_t start = range + 11;
            r.range = line.substr(start, line.find('"', start) - start);
        }
        seen.push_back(r);
    }
    return seen;
}

int requests_for(const std::string& server_path) {
    int n = 0;
    for (const SeenRequest& r : seen_requests())
        if (r.path == server_path) ++n;
    return n;
}

JobWindow::JobWindow() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KorvalJobTestWindow";
        RegisterClassW(&wc);
        registered = true;
    }
    hwnd_ = CreateWindowExW(0, L"KorvalJobTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

JobWindow::~JobWindow() {
    drain();
    DestroyWindow(hwnd_);
}

LRESULT CALLBACK JobWindow::proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<JobWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_PAGE_EVENT) {
        std::string text = take_page_event_text(lparam);
        if (self) self->events.push_back(text);
        return 0;
    }
    if (message == WM_START_GAME) {
        if (self) ++self->start_game;
        return 0;
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

bool JobWindow::pump_until(const std::function<bool()>& done, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    while (!done()) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeout_ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout_ms - elapsed, QS_ALLINPUT);
        drain();
    }
    return true;
}

bool JobWindow::pump_until_end(DWORD timeout_ms) {
    return pump_until([this] { return ended(); }, timeout_ms);
}

void JobWindow::drain() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

void JobWindow::clear() {
    events.clear();
    start_game = 0;
}

bool JobWindow::ended() const { return start_game > 0 || has_error(); }

int JobWindow::count(const std::string& part) const {
    int n = 0;
    for (const std::string& e : events)
        if (contains(e, part)) ++n;
    return n;
}

JobFixtureBase::JobFixtureBase() {
    game_dir = dir.path() + L"\\game";
    log_path_ = dir.file(L"korval_launcher.log");
    log_open(wide_to_narrow(log_path_, CP_ACP), false);
    clear_server_faults();
    clear_server_requests();
}

JobFixtureBase::~JobFixtureBase() {
    stop_game_files_job();
    log_close();
}

std::wstring JobFixtureBase::local(const std::string& path) const {
    std::wstring relative = utf8_to_wide(path);
    for (wchar_t& c : relative)
        if (c == L'/') c = L'\\';
    return game_dir + L"\\" + relative;
}

std::wstring JobFixtureBase::index_path() const { return game_dir + L"\\korval_files.idx"; }
std::string JobFixtureBase::index_text() const { return read_file(index_path()); }
std::string JobFixtureBase::log_text() const { return read_file(log_path_); }

void JobFixtureBase::begin(bool fake_error) {
    window.clear();
    GameFilesRequest request;
    request.install_dir = wide_to_narrow(game_dir, CP_ACP);
    request.fake_error = fake_error;
    request.window = window.hwnd();
    begin_game_files_job(request);
}

void JobFixtureBase::run_job(bool fake_error) {
    begin(fake_error);
    ASSERT_TRUE(window.pump_until_end()) << "the job did not end";
    // Let the job thread finish before the test looks at files and the log.
    stop_game_files_job();
    window.drain();
}

uint64_t file_time(const std::wstring& path) { return query_file_state(path).time; }

bool set_file_time(const std::wstring& path, uint64_t time) {
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ULARGE_INTEGER t;
    t.QuadPart = time;
    FILETIME when{t.LowPart, t.HighPart};
    const bool set = SetFileTime(file, nullptr, nullptr, &when) != FALSE;
    CloseHandle(file);
    return set;
}
