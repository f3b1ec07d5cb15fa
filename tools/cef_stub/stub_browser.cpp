// The stand-in's browser: a child window in the launcher's window, the
// launcher's callbacks called in the runtime's order, page requests through
// the registered scheme factory, and the scenario played step by step from
// the message loop.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "stub.h"

namespace {

const UINT MSG_CREATED = WM_APP + 100;
const UINT MSG_STEP = WM_APP + 101;
const UINT MSG_DO_CLOSE = WM_APP + 102;

HWND control = nullptr;
cef_client_t* client = nullptr;
cef_window_info_t window_info{};
std::string start_url;
StubBrowser* main_browser = nullptr;
StubBrowser* devtools = nullptr;
bool main_closed = false;
size_t next_step = 0;

// `await`: the scripts run so far, and the first one a new await may match
// (each script satisfies one await at most).
const UINT_PTR STEP_TIMER = 1;
const UINT_PTR AWAIT_TIMER = 2;
const DWORD AWAIT_POLL_MS = 20;
const DWORD AWAIT_DEFAULT_MS = 60000;
std::vector<std::string> scripts_run;
size_t await_from = 0;
std::string awaited;
DWORD await_deadline = 0;
bool check_await();

void report_window_info(const cef_window_info_t& w) {
    report("window_info.size %u", static_cast<unsigned>(w.size));
    report("window_info.style 0x%08lx", w.style);
    report("window_info.bounds %d %d %d %d", w.bounds.x, w.bounds.y, w.bounds.width,
           w.bounds.height);
    report("window_info.parent %s", w.parent_window && IsWindow(w.parent_window) ? "window" : "none");
    report("window_info.runtime_style %d", w.runtime_style);
    unsigned int zero_check = w.ex_style | static_cast<unsigned>(w.window_name.length) |
                              reinterpret_cast<uintptr_t>(w.menu) | w.windowless_rendering_enabled |
                              w.shared_texture_enabled | w.external_begin_frame_enabled |
                              reinterpret_cast<uintptr_t>(w.window);
    report("window_info.unlisted_nonzero %s", zero_check ? "yes" : "none");
}

void report_browser_settings(const cef_browser_settings_t& s) {
    report("browser_settings.size %u", static_cast<unsigned>(s.size));
    report("browser_settings.background_color 0x%08x", s.background_color);
    cef_browser_settings_t rest = s;
    rest.size = 0;
    rest.background_color = 0;
    static const cef_browser_settings_t zero{};
    report("browser_settings.unlisted_nonzero %s",
           std::memcmp(&rest, &zero, sizeof rest) ? "yes" : "none");
}

cef_life_span_handler_t* life_span() { return client->get_life_span_handler(client); }

struct Fetch {
    std::string url;
    long long skip = 0;
};

// As the runtime's network thread does, with reads of 1000 bytes.
DWORD WINAPI fetch_thread(void* argument) {
    const Fetch& fetch = *static_cast<Fetch*>(argument);
    ServeOptions options;
    options.skip = fetch.skip;
    Served r;
    serve_page_request(main_browser, fetch.url, options, r);
    if (*r.refusal) {
        report("fetch\t%s\t%s", fetch.url.c_str(), r.refusal);
        return 0;
    }
    report("fetch\t%s\t%d\t%s\t%lld\topen=%d,%d skip=%d,%lld freed=%d\t%s", fetch.url.c_str(),
           r.status, r.mime.c_str(), static_cast<long long>(r.length), r.opened, r.handle_request,
           r.skip_result, static_cast<long long>(r.skipped), r.freed, escape(r.body).c_str());
    return 0;
}

void fetch(const std::string& url, long long skip = 0) {
    Fetch f{url, skip};
    HANDLE thread = CreateThread(nullptr, 0, fetch_thread, &f, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

void console(const std::string& source, int line, const std::string& text) {
    cef_display_handler_t* display = client->get_display_handler(client);
    cef_string_t message{}, where{};
    set_text(message, text);
    set_text(where, source);
    int result = display->on_console_message(display, handed(browser_object(main_browser)), 1,
                                             &message,
                                             &where, line);
    clear_text(message);
    clear_text(where);
    report("console\t%s\t-> %d", escape(text).c_str(), result);
}

void before_close(StubBrowser* b) {
    life_span()->on_before_close(life_span(), handed(browser_object(b)));
    report("on_before_close %d", browser_identifier(b));
}

std::string rest_after(const std::string& line, size_t words) {
    size_t at = 0;
    for (size_t i = 0; i < words && at != std::string::npos; ++i) {
        at = line.find(' ', at);
        if (at != std::string::npos) ++at;
    }
    return at == std::string::npos ? std::string() : line.substr(at);
}

// A path below the launcher's folder, the parent of this library's.
std::string below_launcher(const std::string& relative) {
    std::string folder = stub_folder();
    return folder.substr(0, folder.find_last_of('\\')) + "\\" + relative;
}

// One step; false when the next step waits for a timer.
bool play(const std::string& step) {
    std::string word = step.substr(0, step.find(' '));
    HWND top = GetAncestor(browser_window(main_browser), GA_ROOT);
    if (word == "console") {
        console("http://ui/assets/index.js", 1, rest_after(step, 1));
    } else if (word == "console_at") {
        std::string source = rest_after(step, 1);
        source = source.substr(0, source.find(' '));
        console(source, std::atoi(rest_after(step, 2).c_str()), rest_after(step, 3));
    } else if (word == "navigate") {
        navigate(client, main_browser, rest_after(step, 1));
    } else if (word == "fetch") {
        fetch(rest_after(step, 1));
    } else if (word == "fetch_from") {
        fetch(rest_after(step, 2), std::atoll(rest_after(step, 1).c_str()));
    } else if (word == "context_menu") {
        ask_context_menu(client, main_browser);
    } else if (word == "focus") {
        SendMessageW(top, WM_SETFOCUS, 0, 0);
    } else if (word == "close") {
        report("close window");
        PostMessageW(top, WM_CLOSE, 0, 0);
    } else if (word == "browser_gone") {
        report("browser gone");
        DestroyWindow(browser_window(main_browser));
    } else if (word == "devtools_open") {
        devtools = new_browser(nullptr, 2);
        life_span()->on_after_created(life_span(), handed(browser_object(devtools)));
    } else if (word == "devtools_close") {
        if (devtools) before_close(devtools);
    } else if (word == "wait") {
        SetTimer(control, STEP_TIMER, std::atoi(rest_after(step, 1).c_str()), nullptr);
        return false;
    } else if (word == "await" || word == "await_for") {
        DWORD limit = AWAIT_DEFAULT_MS;
        awaited = rest_after(step, 1);
        if (word == "await_for") {
            limit = static_cast<DWORD>(std::atol(awaited.c_str()));
            awaited = rest_after(step, 2);
        }
        await_deadline = GetTickCount() + limit;
        return !check_await();
    } else if (word == "post") {
        report("post %s", rest_after(step, 1).c_str());
        // "post MESSAGE [WPARAM]"
        const std::string wparam = rest_after(step, 2);
        PostMessageW(top, static_cast<UINT>(std::atol(rest_after(step, 1).c_str())),
                     wparam.empty() ? 0 : static_cast<WPARAM>(std::atol(wparam.c_str())), 0);
    } else if (word == "copy") {
        std::string from = rest_after(step, 1);
        from = from.substr(0, from.find(' '));
        std::string to = rest_after(step, 2);
        report("copy %s %s -> %d", from.c_str(), to.c_str(),
               CopyFileA(below_launcher(from).c_str(), below_launcher(to).c_str(), FALSE) ? 1 : 0);
    } else if (word == "remove") {
        report("remove %s -> %d", rest_after(step, 1).c_str(),
               DeleteFileA(below_launcher(rest_after(step, 1)).c_str()) ? 1 : 0);
    } else if (word == "quit") {
        report("quit");
        PostQuitMessage(0);
    } else {
        report("!! unknown step %s", step.c_str());
    }
    return true;
}

// True while the awaited script has not run yet and there is time left.
bool check_await() {
    if (awaited.empty()) return false;
    for (size_t i = await_from; i < scripts_run.size(); ++i) {
        if (scripts_run[i].find(awaited) != std::string::npos) {
            report("await\t%s\t-> ok", escape(awaited).c_str());
            await_from = i + 1;
            awaited.clear();
            return false;
        }
    }
    if (static_cast<LONG>(GetTickCount() - await_deadline) >= 0) {
        report("!! await\t%s\t-> timed out", escape(awaited).c_str());
        awaited.clear();
        return false;
    }
    SetTimer(control, AWAIT_TIMER, AWAIT_POLL_MS, nullptr);
    return true;
}

void browser_created() {
    main_browser = new_browser(create_browser_window(window_info), 1);
    life_span()->on_after_created(life_span(), handed(browser_object(main_browser)));
    report("on_after_created 1");
    if (navigate(client, main_browser, start_url) == 0) fetch(start_url);
    PostMessageW(control, MSG_STEP, 0, 0);
}

LRESULT CALLBACK control_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case MSG_CREATED:
        browser_created();
        return 0;
    case WM_TIMER:
        KillTimer(window, wparam);
        if (wparam == STEP_TIMER || !check_await()) PostMessageW(window, MSG_STEP, 0, 0);
        return 0;
    case MSG_STEP:
        if (next_step < scenario().steps.size() && play(scenario().steps[next_step++]))
            PostMessageW(window, MSG_STEP, 0, 0);
        return 0;
    case MSG_DO_CLOSE:
        run_close_order(client, reinterpret_cast<StubBrowser*>(lparam));
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK browser_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY && main_browser && browser_window(main_browser) == window &&
        !main_closed) {
        main_closed = true;
        report("browser window destroyed");
        before_close(main_browser);
    }
    return browser_window_default(window, message, wparam, lparam);
}

}  // namespace

int create_browser(const cef_window_info_t* info, cef_client_t* client_object,
                   const cef_string_t* url, const cef_browser_settings_t* settings) {
    start_url = utf8_of(url);
    report("create_browser %s", start_url.c_str());
    if (info) report_window_info(*info);
    if (settings) report_browser_settings(*settings);
    check_client(client_object);
    if (client_object) client = client_object;
    if (!control) control = create_control_window(control_proc, browser_proc);
    if (scenario().create_browser_fails || !info || !client_object || !control) {
        report("create_browser -> 0");
        return 0;
    }
    window_info = *info;
    report("create_browser -> 1");
    // The browser arrives later, from the message loop, as with the runtime.
    PostMessageW(control, MSG_CREATED, 0, 0);
    return 1;
}

void request_browser_close(StubBrowser* browser, int force) {
    PostMessageW(control, MSG_DO_CLOSE, 0, reinterpret_cast<LPARAM>(browser));
}

void note_script(const std::string& code, const std::string&, int) { scripts_run.push_back(code); }

void destroy_stub_windows() {
    if (main_browser && IsWindow(browser_window(main_browser)))
        DestroyWindow(browser_window(main_browser));
    destroy_control_window(control);
    control = nullptr;
}
