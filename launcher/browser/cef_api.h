#pragma once
// The browser runtime's exported functions, bound by name from libcef.dll at
// run time, and the text conversions every caller uses at the runtime's border.
#include <string>
#include <string_view>

#include "cef_objects.h"

struct CefApi {
    cef_api_hash_fn api_hash;
    cef_initialize_fn initialize;
    cef_browser_host_create_browser_fn browser_host_create_browser;
    cef_register_scheme_handler_factory_fn register_scheme_handler_factory;
    cef_string_utf8_to_utf16_fn string_utf8_to_utf16;
    cef_string_utf16_to_utf8_fn string_utf16_to_utf8;
    cef_string_utf16_clear_fn string_utf16_clear;
    cef_string_utf8_clear_fn string_utf8_clear;
    cef_string_userfree_utf16_free_fn string_userfree_utf16_free;
    cef_void_fn run_message_loop;
    cef_void_fn quit_message_loop;
    cef_void_fn shutdown;
};

// Valid after a successful `bind_cef_api` (done by `init_browser_runtime`).
extern CefApi cef_api;

// Resolves the twelve functions in their fixed order. On the first missing
// one, returns false with its export name in `missing` and leaves `cef_api`
// untouched.
bool bind_cef_api(HMODULE library, std::string& missing);

// A runtime text built from UTF-8 bytes, released when the owner goes.
class CefText {
public:
    explicit CefText(std::string_view utf8);
    ~CefText();
    CefText(const CefText&) = delete;
    CefText& operator=(const CefText&) = delete;
    const cef_string_t* get() const { return &text_; }

private:
    cef_string_t text_{};
};

// A runtime text as UTF-8; null or absent texts give the empty string.
std::string cef_text_to_utf8(const cef_string_t* text);

// Reads a text the runtime handed over for the caller to free, and frees it.
std::string take_userfree_text(cef_string_userfree_t text);

// Sets a runtime text member of a value structure (settings, window
// information); `release_cef_text` undoes it.
void set_cef_text(cef_string_t& member, std::string_view utf8);
void release_cef_text(cef_string_t& member);
