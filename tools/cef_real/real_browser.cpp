// The browser of this build is a real one: a page of Debian's Chromium,
// driven by the bridge process on the Linux side. What the page does reaches
// the launcher here, through the runtime's own interface and threads:
// navigations and console lines on the UI thread (the launcher's message
// loop), page requests through the registered scheme factory on threads of
// their own; the launcher's scripts go to the page in the order of the calls.
#include <winsock2.h>

#include <cstdlib>

#include "tools/cef_real/bridge_link.h"
#include "tools/cef_stub/stub.h"

namespace {

const UINT MSG_CREATED = WM_APP + 100;
const UINT MSG_NAVIGATE = WM_APP + 101;
const UINT MSG_CONSOLE = WM_APP + 102;
const UINT MSG_CLOSED = WM_APP + 103;
const UINT MSG_MENU = WM_APP + 104;
const int DEFAULT_BRIDGE_PORT = 47472;

HWND control = nullptr;
cef_client_t* client = nullptr;
cef_window_info_t window_info{};
std::string start_url;
StubBrowser* main_browser = nullptr;
bool close_requested = false;
bool page_closed = false;    // the bridge said the page is gone (or the link is)
bool window_gone = false;    // on_before_close has been called

int bridge_port() {
    char value[32] = {};
    DWORD n = GetEnvironmentVariableA("KORVAL_BRIDGE_PORT", value, sizeof value);
    int port = n > 0 && n < sizeof value ? std::atoi(value) : 0;
    return port > 0 && port < 65536 ? port : DEFAULT_BRIDGE_PORT;
}

cef_life_span_handler_t* life_span() { return client->get_life_span_handler(client); }

// ---- page requests ------------------------------------------------------------

struct PageRequest {
    std::string id;
    std::string url;
};

// As the runtime's network thread, with reads of 64 KiB; the answer goes
// back to the page.
DWORD WINAPI serve_thread(void* argument) {
    PageRequest* job = static_cast<PageRequest*>(argument);
    const std::string url = job->url;
    const std::string id = job->id;
    delete job;
    ServeOptions options;
    options.read_size = 65536;
    options.only_when_opened = true;
    Served r;
    bool ready = serve_page_request(main_browser, url, options, r);
    if (*r.refusal) {
        report("fetch\t%s\t%s", url.c_str(), r.refusal);
        link_send({"answer", id, "-1", ""});
        return 0;
    }
    // Opened and handled at once is the launcher's way; not opened but
    // handled is the runtime's cancel; anything else would wait for a
    // callback that this runtime does not give.
    if (!ready && !(r.opened == 0 && r.handle_request == 1))
        report("!! open -> %d with handle_request %d", r.opened, r.handle_request);
    if (ready && r.length >= 0 && static_cast<int64_t>(r.body.size()) != r.length)
        report("!! response length %lld, body %u bytes", static_cast<long long>(r.length),
               static_cast<unsigned>(r.body.size()));
    report("fetch\t%s\t%d\t%s\t%lld\topen=%d,%d freed=%d\t%u bytes", url.c_str(), r.status,
           r.mime.c_str(), static_cast<long long>(r.length), r.opened, r.handle_request, r.freed,
           static_cast<unsigned>(r.body.size()));
    if (!ready) link_send({"answer", id, "-1", ""});
    else link_send({"answer", id, std::to_string(r.status), r.mime}, r.body);
    return 0;
}

// ---- from the bridge ----------------------------------------------------------

// The reader thread: page requests start their own thread at once, everything
// else waits for the UI thread.
void on_frame(Frame* frame) {
    if (frame->kind() == "request") {
        HANDLE thread = CreateThread(nullptr, 0, serve_thread,
                                     new PageRequest{frame->field(1), frame->field(2)}, 0, nullptr);
        if (thread) CloseHandle(thread);
        delete frame;
        return;
    }
    UINT message = frame->kind() == "navigate" ? MSG_NAVIGATE
                   : frame->kind() == "console" ? MSG_CONSOLE
                   : frame->kind() == "closed"  ? MSG_CLOSED
                   : frame->kind() == "menu"    ? MSG_MENU
                                                : 0;
    if (!message || !PostMessageW(control, message, 0, reinterpret_cast<LPARAM>(frame)))
        delete frame;
}

void on_end() { PostMessageW(control, MSG_CLOSED, 1, 0); }

void console(const Frame& f) {
    if (!main_browser || window_gone) return;
    cef_display_handler_t* display = client->get_display_handler(client);
    cef_string_t message{}, source{};
    set_text(message, f.payload);
    set_text(source, f.field(2));
    int line = std::atoi(f.field(3).c_str());
    int result = display->on_console_message(display, handed(browser_object(main_browser)),
                                             std::atoi(f.field(1).c_str()), &message, &source, line);
    clear_text(message);
    clear_text(source);
    report("console\t%s\t%s:%d\t-> %d", escape(f.payload).c_str(), escape(f.field(2)).c_str(), line,
           result);
}

void before_close() {
    if (window_gone) return;
    window_gone = true;
    life_span()->on_before_close(life_span(), handed(browser_object(main_browser)));
    report("on_before_close %d", browser_identifier(main_browser));
}

// The runtime's close order once the page is closed: do_close, then (when
// it returns 0) WM_CLOSE to the top-level window, whose destruction takes
// the browser's window with it and so ends in on_before_close.
void page_gone(bool lost) {
    if (page_closed || !main_browser) return;
    page_closed = true;
    HWND window = browser_window(main_browser);
    if (!close_requested) {
        report(lost ? "bridge gone" : "page closed by itself");
        DestroyWindow(window);
        return;
    }
    report("page closed");
    run_close_order(client, main_browser);
}

void browser_created() {
    const cef_window_info_t& w = window_info;
    HWND child = create_browser_window(w);
    main_browser = new_browser(child, 1);
    life_span()->on_after_created(life_span(), handed(browser_object(main_browser)));
    report("on_after_created 1");
    // Where the page's window goes on a display: over the browser's window.
    POINT origin{0, 0};
    if (child) ClientToScreen(child, &origin);
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    link_send({"open", start_url, std::to_string(origin.x), std::to_string(origin.y),
               std::to_string(w.bounds.width), std::to_string(w.bounds.height),
               std::to_string(dpi ? dpi : 96)});
}

LRESULT CALLBACK control_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Frame* frame = reinterpret_cast<Frame*>(lparam);
    switch (message) {
    case MSG_CREATED:
        browser_created();
        return 0;
    case MSG_NAVIGATE: {
        int cancel = main_browser && !window_gone ? navigate(client, main_browser, frame->field(2)) : 1;
        link_send({"browse", frame->field(1), std::to_string(cancel)});
        delete frame;
        return 0;
    }
    case MSG_CONSOLE:
        console(*frame);
        delete frame;
        return 0;
    case MSG_MENU: {
        size_t items = main_browser && !window_gone ? ask_context_menu(client, main_browser) : 0;
        link_send({"answer", frame->field(1), std::to_string(items)});
        delete frame;
        return 0;
    }
    case MSG_CLOSED:
        delete frame;
        page_gone(wparam == 1);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK browser_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY && main_browser && browser_window(main_browser) == window) {
        report("browser window destroyed");
        // A window destroyed with the page still open (the launcher's window
        // went away first) takes the page with it.
        if (!page_closed) link_send({"close", "1"});
        before_close();
    }
    return browser_window_default(window, message, wparam, lparam);
}

}  // namespace

int create_browser(const cef_window_info_t* info, cef_client_t* client_object,
                   const cef_string_t* url, const cef_browser_settings_t* settings) {
    start_url = utf8_of(url);
    report("create_browser %s", start_url.c_str());
    if (settings && settings->size != sizeof(cef_browser_settings_t))
        report("!! browser settings size %u", static_cast<unsigned>(settings->size));
    check_client(client_object);
    if (client_object) client = client_object;
    if (!control) control = create_control_window(control_proc, browser_proc);
    if (main_browser || !info || !client_object || !control) {
        report("create_browser -> 0");
        return 0;
    }
    int port = bridge_port();
    std::string error;
    if (!link_connect(port, error)) {
        report("!! no bridge: %s", error.c_str());
        report("create_browser -> 0");
        return 0;
    }
    report("bridge on port %d", port);
    link_start_reader(on_frame, on_end);
    window_info = *info;
    report("create_browser -> 1");
    // The browser arrives later, from the message loop, as with the runtime.
    PostMessageW(control, MSG_CREATED, 0, 0);
    return 1;
}

void request_browser_close(StubBrowser*, int force) {
    if (close_requested || page_closed) {
        if (!close_requested) report("close of a closed page");
        close_requested = true;
        return;
    }
    close_requested = true;
    if (!link_send({"close", std::to_string(force)})) PostMessageW(control, MSG_CLOSED, 1, 0);
}

void note_script(const std::string& code, const std::string& url, int line) {
    if (!page_closed) link_send({"script", url, std::to_string(line)}, code);
}

void destroy_stub_windows() {
    link_close();
    if (main_browser && IsWindow(browser_window(main_browser)))
        DestroyWindow(browser_window(main_browser));
    destroy_control_window(control);
    control = nullptr;
    // Frames posted after the loop ended were never handled: nothing else
    // holds them, and the process is about to end.
}
