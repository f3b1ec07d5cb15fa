#include "cef_api.h"

CefApi cef_api{};

namespace {

// The order is the order of the checks: the log names the first missing one.
const char* const CEF_API_NAMES[] = {
    "cef_api_hash",
    "cef_initialize",
    "cef_browser_host_create_browser",
    "cef_register_scheme_handler_factory",
    "cef_string_utf8_to_utf16",
    "cef_string_utf16_to_utf8",
    "cef_string_utf16_clear",
    "cef_string_utf8_clear",
    "cef_string_userfree_utf16_free",
    "cef_run_message_loop",
    "cef_quit_message_loop",
    "cef_shutdown",
};
const size_t CEF_API_COUNT = sizeof CEF_API_NAMES / sizeof CEF_API_NAMES[0];
static_assert(CEF_API_COUNT * sizeof(void*) == sizeof(CefApi));

template <typename F>
void assign(F& slot, FARPROC proc) {
    slot = reinterpret_cast<F>(reinterpret_cast<void*>(proc));
}

}  // namespace

bool bind_cef_api(HMODULE library, std::string& missing) {
    FARPROC procs[CEF_API_COUNT];
    for (size_t i = 0; i < CEF_API_COUNT; ++i) {
        procs[i] = GetProcAddress(library, CEF_API_NAMES[i]);
        if (!procs[i]) {
            missing = CEF_API_NAMES[i];
            return false;
        }
    }
    assign(cef_api.api_hash, procs[0]);
    assign(cef_api.initialize, procs[1]);
    assign(cef_api.browser_host_create_browser, procs[2]);
    assign(cef_api.register_scheme_handler_factory, procs[3]);
    assign(cef_api.string_utf8_to_utf16, procs[4]);
    assign(cef_api.string_utf16_to_utf8, procs[5]);
    assign(cef_api.string_utf16_clear, procs[6]);
    assign(cef_api.string_utf8_clear, procs[7]);
    assign(cef_api.string_userfree_utf16_free, procs[8]);
    assign(cef_api.run_message_loop, procs[9]);
    assign(cef_api.quit_message_loop, procs[10]);
    assign(cef_api.shutdown, procs[11]);
    return true;
}

CefText::CefText(std::string_view utf8) { set_cef_text(text_, utf8); }

CefText::~CefText() { release_cef_text(text_); }

void set_cef_text(cef_string_t& member, std::string_view utf8) {
    member = cef_string_t{};
    cef_api.string_utf8_to_utf16(utf8.data(), utf8.size(), &member);
}

void release_cef_text(cef_string_t& member) { cef_api.string_utf16_clear(&member); }

std::string cef_text_to_utf8(const cef_string_t* text) {
    if (!text || !text->str || text->length == 0) return {};
    cef_string_utf8_t utf8{};
    cef_api.string_utf16_to_utf8(text->str, text->length, &utf8);
    std::string out = utf8.str ? std::string(utf8.str, utf8.length) : std::string();
    cef_api.string_utf8_clear(&utf8);
    return out;
}

std::string take_userfree_text(cef_string_userfree_t text) {
    if (!text) return {};
    std::string out = cef_text_to_utf8(text);
    cef_api.string_userfree_utf16_free(text);
    return out;
}
