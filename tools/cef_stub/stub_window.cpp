// What both browsers of the stand-in share, the scripted one and the one a
// real browser shows: the browser's child window, the launcher's handlers
// checked at creation, navigations put to the launcher, the runtime's close
// order, and page requests served through the registered scheme factory.
#include "stub.h"

namespace {

const wchar_t CONTROL_CLASS[] = L"KorvalStubControl";
const wchar_t BROWSER_CLASS[] = L"KorvalStubBrowser";

void check_size(const char* name, const void* object, size_t expected) {
    size_t size = object ? static_cast<const cef_base_ref_counted_t*>(object)->size : 0;
    report("handler %s size=%u", name, static_cast<unsigned>(size));
    if (object && size != expected)
        report("!! %s size %u, expected %u", name, static_cast<unsigned>(size),
               static_cast<unsigned>(expected));
}

// Each read brings a callback of its own, as the runtime's reads do.
int read_once(cef_resource_handler_t* h, std::string& buffer, int& got) {
    cef_resource_read_callback_t* callback = new_read_callback();
    int more = h->read(h, buffer.data(), static_cast<int>(buffer.size()), &got, handed(callback));
    callback->base.release(&callback->base);
    return more;
}

}  // namespace

HINSTANCE stub_instance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&stub_instance), &module);
    return module;
}

void check_client(cef_client_t* client) {
    check_size("client", client, sizeof(cef_client_t));
    if (!client) return;
    check_size("context_menu", client->get_context_menu_handler(client),
               sizeof(cef_context_menu_handler_t));
    check_size("display", client->get_display_handler(client), sizeof(cef_display_handler_t));
    check_size("life_span", client->get_life_span_handler(client),
               sizeof(cef_life_span_handler_t));
    check_size("request", client->get_request_handler(client), sizeof(cef_request_handler_t));
}

HWND create_control_window(WNDPROC control_proc, WNDPROC browser_proc) {
    WNDCLASSW c{};
    c.lpfnWndProc = control_proc;
    c.hInstance = stub_instance();
    c.lpszClassName = CONTROL_CLASS;
    RegisterClassW(&c);
    c.lpfnWndProc = browser_proc;
    c.lpszClassName = BROWSER_CLASS;
    c.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    RegisterClassW(&c);
    return CreateWindowExW(0, CONTROL_CLASS, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           stub_instance(), nullptr);
}

void destroy_control_window(HWND control) {
    if (control) DestroyWindow(control);
    UnregisterClassW(CONTROL_CLASS, stub_instance());
    UnregisterClassW(BROWSER_CLASS, stub_instance());
}

HWND create_browser_window(const cef_window_info_t& w) {
    HWND child = CreateWindowExW(w.ex_style, BROWSER_CLASS, L"", w.style, w.bounds.x, w.bounds.y,
                                 w.bounds.width, w.bounds.height, w.parent_window, nullptr,
                                 stub_instance(), nullptr);
    if (!child) report("!! browser window not created: %lu", GetLastError());
    return child;
}

LRESULT browser_window_default(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_PAINT) return DefWindowProcW(window, message, wparam, lparam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EndPaint(window, &paint);
    return 0;
}

int navigate(cef_client_t* client, StubBrowser* browser, const std::string& url) {
    cef_request_handler_t* handler = client->get_request_handler(client);
    cef_request_t* request = new_request(url);
    int result = handler->on_before_browse(handler, handed(browser_object(browser)),
                                           handed(frame_object(browser)), handed(request), 0, 0);
    request->base.release(&request->base);
    report("navigate\t%s\t-> %d", url.c_str(), result);
    return result;
}

size_t ask_context_menu(cef_client_t* client, StubBrowser* browser) {
    cef_context_menu_handler_t* handler = client->get_context_menu_handler(client);
    cef_menu_model_t* model = new_menu_model(3);
    cef_context_menu_params_t* params = new_context_menu_params();
    handler->on_before_context_menu(handler, handed(browser_object(browser)),
                                    handed(frame_object(browser)), handed(params), handed(model));
    params->base.release(&params->base);
    size_t items = model->get_count(model);
    report("context_menu 3 -> %u", static_cast<unsigned>(items));
    model->base.release(&model->base);
    return items;
}

void run_close_order(cef_client_t* client, StubBrowser* browser) {
    cef_life_span_handler_t* life_span = client->get_life_span_handler(client);
    int result = life_span->do_close(life_span, handed(browser_object(browser)));
    report("do_close -> %d", result);
    HWND window = browser_window(browser);
    if (result == 0) {
        report("wm_close to the top-level window");
        SendMessageW(GetAncestor(window, GA_ROOT), WM_CLOSE, 0, 0);
        if (IsWindow(window)) report("browser window kept after WM_CLOSE");
    } else {
        DestroyWindow(window);
    }
}

bool serve_page_request(StubBrowser* browser, const std::string& url, const ServeOptions& options,
                        Served& out) {
    if (!stub_factory) {
        out.refusal = "no factory";
        return false;
    }
    cef_request_t* request = new_request(url);
    cef_string_t scheme{};
    set_text(scheme, "http");
    cef_resource_handler_t* h = stub_factory->create(stub_factory, handed(browser_object(browser)),
                                                     handed(frame_object(browser)), &scheme,
                                                     handed(request));
    clear_text(scheme);
    if (!h) {
        request->base.release(&request->base);
        out.refusal = "no handler";
        return false;
    }
    if (h->base.size != sizeof(cef_resource_handler_t) || h->process_request || h->read_response)
        report("!! resource handler layout");
    if (!h->base.has_one_ref(&h->base)) report("!! new handler without exactly one reference");
    // A reference of our own shows whether the launcher's releases during the
    // request left the handler alive until ours.
    h->base.add_ref(&h->base);

    cef_callback_t* open_callback = new_open_callback();
    out.opened = h->open(h, handed(request), &out.handle_request, handed(open_callback));
    open_callback->base.release(&open_callback->base);
    bool ready = !options.only_when_opened || (out.opened == 1 && out.handle_request == 1);
    cef_response_t* response = new_response();
    if (ready) {
        cef_string_t redirect{};
        h->get_response_headers(h, handed(response), &out.length, &redirect);
        if (redirect.length) report("!! redirect set");
        if (options.skip) {
            cef_resource_skip_callback_t* skip_callback = new_skip_callback();
            out.skip_result = h->skip(h, options.skip, &out.skipped, handed(skip_callback));
            skip_callback->base.release(&skip_callback->base);
        }
        std::string buffer(options.read_size, '\0');
        int got = 0;
        while (read_once(h, buffer, got)) {
            if (got <= 0 || got > options.read_size) {
                report("!! read reported %d bytes", got);
                break;
            }
            out.body.append(buffer.data(), got);
        }
        if (got != 0) report("!! end of response with %d bytes", got);
    }
    int first = h->base.release(&h->base);
    int last = h->base.release(&h->base);
    out.freed = first == 0 && last == 1;
    out.status = response_status(response);
    out.mime = response_mime_type(response);
    response->base.release(&response->base);
    request->base.release(&request->base);
    return ready;
}
