#include "browser_client.h"

#include <string>

#include "cef_api.h"
#include "launcher/browser/cef_arg_ref.h"
#include "launcher/core/log.h"
#include "launcher/core/session_state.h"
#include "page_bridge.h"
#include "static_handler.h"

cef_browser_t* current_browser = nullptr;

namespace {

const DWORD BROWSER_STYLE =
    WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | WS_TABSTOP;
static_assert(BROWSER_STYLE == 0x56010000);
const cef_color_t BACKGROUND_COLOR = 0xFF050505;

cef_client_t client;
cef_life_span_handler_t life_span_handler;
cef_request_handler_t request_handler;
cef_context_menu_handler_t context_menu_handler;

// The runtime may hand over a new wrapper for the same browser, so identity
// is its identifier, not the pointer.
bool is_current_browser(cef_browser_t* browser) {
    if (!current_browser || !browser) return false;
    if (browser == current_browser) return true;
    return browser->get_identifier && current_browser->get_identifier &&
           browser->get_identifier(browser) == current_browser->get_identifier(current_browser);
}

void CEF_CALLBACK on_after_created(cef_life_span_handler_t*, cef_browser_t* browser) {
    CefArgRef<cef_browser_t> argument(browser);
    // Only the first browser is the page's; developer tools opened from the
    // page's context menu come through here as well.
    if (!browser || current_browser) return;
    // The reference this call brought becomes current_browser's own.
    current_browser = argument.keep();
    log_line("browser created");
}

int CEF_CALLBACK do_close(cef_life_span_handler_t*, cef_browser_t* browser) {
    CefArgRef<cef_browser_t> argument(browser);
    // The runtime's standard close: WM_CLOSE to main_window.
    return 0;
}

void CEF_CALLBACK on_before_close(cef_life_span_handler_t*, cef_browser_t* browser) {
    CefArgRef<cef_browser_t> argument(browser);
    if (current_browser) {
        // Closing developer tools must not close the launcher.
        if (!is_current_browser(browser)) return;
        cef_browser_t* closing = current_browser;
        current_browser = nullptr;
        closing->base.release(&closing->base);
    }
    PostMessageW(main_window, WM_CLOSE, 0, 0);
}

int CEF_CALLBACK on_before_browse(cef_request_handler_t*, cef_browser_t* browser,
                                  cef_frame_t* frame, cef_request_t* request, int user_gesture,
                                  int is_redirect) {
    CefArgRef<cef_browser_t> browser_argument(browser);
    CefArgRef<cef_frame_t> frame_argument(frame);
    CefArgRef<cef_request_t> request_argument(request);
    std::string url = request ? take_userfree_text(request->get_url(request)) : std::string();
    if (is_allowed_navigation(url)) return 0;
    log_line_bounded("navigation blocked: %s", url.c_str());
    return 1;
}

void CEF_CALLBACK on_before_context_menu(cef_context_menu_handler_t*, cef_browser_t* browser,
                                         cef_frame_t* frame, cef_context_menu_params_t* params,
                                         cef_menu_model_t* model) {
    CefArgRef<cef_browser_t> browser_argument(browser);
    CefArgRef<cef_frame_t> frame_argument(frame);
    CefArgRef<cef_context_menu_params_t> params_argument(params);
    CefArgRef<cef_menu_model_t> model_argument(model);
    if (!startup_options.dev && model) model->clear(model);
}

cef_context_menu_handler_t* CEF_CALLBACK get_context_menu_handler(cef_client_t*) {
    return &context_menu_handler;
}
cef_display_handler_t* CEF_CALLBACK get_display_handler(cef_client_t*) {
    return page_display_handler();
}
cef_life_span_handler_t* CEF_CALLBACK get_life_span_handler(cef_client_t*) {
    return &life_span_handler;
}
cef_request_handler_t* CEF_CALLBACK get_request_handler(cef_client_t*) {
    return &request_handler;
}

}  // namespace

void prepare_browser_handlers() {
    prepare_page_display_handler();

    life_span_handler = cef_life_span_handler_t{};
    set_static_handler_base(life_span_handler.base, sizeof(cef_life_span_handler_t));
    life_span_handler.on_after_created = on_after_created;
    life_span_handler.do_close = do_close;
    life_span_handler.on_before_close = on_before_close;

    request_handler = cef_request_handler_t{};
    set_static_handler_base(request_handler.base, sizeof(cef_request_handler_t));
    request_handler.on_before_browse = on_before_browse;

    context_menu_handler = cef_context_menu_handler_t{};
    set_static_handler_base(context_menu_handler.base, sizeof(cef_context_menu_handler_t));
    context_menu_handler.on_before_context_menu = on_before_context_menu;

    client = cef_client_t{};
    set_static_handler_base(client.base, sizeof(cef_client_t));
    client.get_context_menu_handler = get_context_menu_handler;
    client.get_display_handler = get_display_handler;
    client.get_life_span_handler = get_life_span_handler;
    client.get_request_handler = get_request_handler;
}

cef_client_t* browser_client() { return &client; }

void create_browser_window() {
    RECT area{};
    GetClientRect(main_window, &area);

    cef_window_info_t window_info{};
    window_info.size = sizeof(cef_window_info_t);
    window_info.style = BROWSER_STYLE;
    window_info.bounds = {0, 0, area.right - area.left, area.bottom - area.top};
    window_info.parent_window = main_window;
    window_info.runtime_style = CEF_RUNTIME_STYLE_ALLOY;

    cef_browser_settings_t browser_settings{};
    browser_settings.size = sizeof(cef_browser_settings_t);
    browser_settings.background_color = BACKGROUND_COLOR;

    CefText url(START_URL);
    if (!cef_api.browser_host_create_browser(&window_info, &client, url.get(), &browser_settings,
                                             nullptr, nullptr))
        log_line("!! create_browser failed");
}

bool is_allowed_navigation(std::string_view url) {
    return url.substr(0, 10) == "http://ui/" || url.substr(0, 9) == "devtools:";
}
