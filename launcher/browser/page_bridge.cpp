#include "page_bridge.h"

#include "browser_client.h"
#include "cef_api.h"
#include "launcher/browser/cef_arg_ref.h"
#include "launcher/session/page_dispatcher.h"
#include "static_handler.h"

namespace {

const char SCRIPT_HEAD[] = "window.dispatchEvent(new CustomEvent('launcher',{detail:";
const char SCRIPT_TAIL[] = "}));";
static_assert(sizeof SCRIPT_HEAD - 1 == 56 && sizeof SCRIPT_TAIL - 1 == 4);

cef_display_handler_t display_handler;

int CEF_CALLBACK on_console_message(cef_display_handler_t*, cef_browser_t* browser, int level,
                                    const cef_string_t* message, const cef_string_t* source,
                                    int line) {
    CefArgRef<cef_browser_t> argument(browser);
    return dispatch_page_message(message, source, line);
}

}  // namespace

std::string page_event_script(std::string_view json) {
    std::string script;
    script.reserve(sizeof SCRIPT_HEAD + json.size() + sizeof SCRIPT_TAIL);
    script += SCRIPT_HEAD;
    script += json;
    script += SCRIPT_TAIL;
    return script;
}

void send_page_event(std::string_view json) {
    std::string script = page_event_script(json);
    if (!current_browser) return;
    cef_frame_t* frame = current_browser->get_main_frame(current_browser);
    if (!frame) return;
    {
        CefText code(script);
        CefText url(SCRIPT_URL);
        frame->execute_java_script(frame, code.get(), url.get(), 0);
    }
    frame->base.release(&frame->base);
}

void prepare_page_display_handler() {
    display_handler = cef_display_handler_t{};
    set_static_handler_base(display_handler.base, sizeof(cef_display_handler_t));
    display_handler.on_console_message = on_console_message;
}

cef_display_handler_t* page_display_handler() { return &display_handler; }
