#pragma once
// The browser runtime's C API (libcef, API version 14800, 32-bit Windows):
// the value types and the exported functions that the launcher uses.
//
// The layouts are the runtime's own, member for member. Members the launcher
// never sets stay in place so every later offset matches; the static_asserts
// pin each size and each offset that the launcher or its test runtime touch,
// because a mismatch is not an error the runtime reports: it reads garbage or
// terminates the process.
#include <cstddef>
#include <cstdint>

#include <windows.h>

// Every function pointer inside the runtime's ref-counted structures is
// __stdcall; the exported functions are __cdecl.
#define CEF_CALLBACK __stdcall

// The pinned numbers are the 32-bit runtime's. A 64-bit build (the test build
// on machines whose kernel runs no 32-bit programs) keeps every member in its
// order, and so the same code, but at other offsets.
#ifdef _WIN64
#define CEF_LAYOUT_ASSERT(condition)
#else
#define CEF_LAYOUT_ASSERT(condition) static_assert(condition)
#endif

const int BROWSER_API_VERSION = 14800;

extern "C" {

// ---- texts -----------------------------------------------------------------

// The runtime's text type is UTF-16. `dtor` is a plain (cdecl) pointer, unlike
// every callback of the ref-counted structures.
struct cef_string_utf16_t {
    char16_t* str;
    size_t length;  // code units
    void (*dtor)(char16_t* str);
};
typedef cef_string_utf16_t cef_string_t;
typedef cef_string_utf16_t* cef_string_userfree_t;

struct cef_string_utf8_t {
    char* str;
    size_t length;  // bytes
    void (*dtor)(char* str);
};

static_assert(sizeof(char16_t) == 2);
CEF_LAYOUT_ASSERT(sizeof(cef_string_t) == 12);
CEF_LAYOUT_ASSERT(offsetof(cef_string_t, str) == 0);
CEF_LAYOUT_ASSERT(offsetof(cef_string_t, length) == 4);
CEF_LAYOUT_ASSERT(offsetof(cef_string_t, dtor) == 8);
CEF_LAYOUT_ASSERT(sizeof(cef_string_utf8_t) == 12);
CEF_LAYOUT_ASSERT(offsetof(cef_string_utf8_t, str) == 0);
CEF_LAYOUT_ASSERT(offsetof(cef_string_utf8_t, length) == 4);
CEF_LAYOUT_ASSERT(offsetof(cef_string_utf8_t, dtor) == 8);

typedef uint32_t cef_color_t;  // ARGB

struct cef_rect_t {
    int x, y, width, height;
};
CEF_LAYOUT_ASSERT(sizeof(cef_rect_t) == 16);

// ---- value structures passed by pointer --------------------------------------

struct cef_main_args_t {
    HINSTANCE instance;
};
CEF_LAYOUT_ASSERT(sizeof(cef_main_args_t) == 4);

struct cef_settings_t {
    size_t size;
    int no_sandbox;
    cef_string_t browser_subprocess_path;
    cef_string_t framework_dir_path;
    cef_string_t main_bundle_path;
    int multi_threaded_message_loop;
    int external_message_pump;
    int windowless_rendering_enabled;
    int command_line_args_disabled;
    cef_string_t cache_path;
    cef_string_t root_cache_path;
    int persist_session_cookies;
    cef_string_t user_agent;
    cef_string_t user_agent_product;
    cef_string_t locale;
    cef_string_t log_file;
    int log_severity;  // cef_log_severity_t
    int log_items;
    cef_string_t javascript_flags;
    cef_string_t resources_dir_path;
    cef_string_t locales_dir_path;
    int remote_debugging_port;
    int uncaught_exception_stack_size;
    cef_color_t background_color;
    cef_string_t accept_language_list;
    cef_string_t cookieable_schemes_list;
    int cookieable_schemes_exclude_defaults;
    cef_string_t chrome_policy_id;
    int chrome_app_icon_id;
    int disable_signal_handlers;
    int use_views_default_popup;
};
CEF_LAYOUT_ASSERT(sizeof(cef_settings_t) == 244);
CEF_LAYOUT_ASSERT(offsetof(cef_settings_t, size) == 0);
CEF_LAYOUT_ASSERT(offsetof(cef_settings_t, no_sandbox) == 4);
CEF_LAYOUT_ASSERT(offsetof(cef_settings_t, browser_subprocess_path) == 8);
CEF_LAYOUT_ASSERT(offsetof(cef_settings_t, multi_threaded_message_loop) == 44);
CEF_LAYOUT_ASSERT(offsetof(cef_settings_t, external_message_pump) == 48);
CEF_LAYOUT_ASSERT(offsetof(cef_settings_t, cache_path) == 60);
CEF_LAYOUT_ASSERT(offsetof(cef_settings_t, root_cache_path) == 72);
CEF_LAYOUT_ASSERT(offsetof(cef_settings_t, locale) == 112);
CEF_LAYOUT_ASSERT(offsetof(cef_settings_t, log_file) == 124);
CEF_LAYOUT_ASSERT(offsetof(cef_settings_t, log_severity) == 136);
CEF_LAYOUT_ASSERT(offsetof(cef_settings_t, resources_dir_path) == 156);
CEF_LAYOUT_ASSERT(offsetof(cef_settings_t, locales_dir_path) == 168);
CEF_LAYOUT_ASSERT(offsetof(cef_settings_t, remote_debugging_port) == 180);
CEF_LAYOUT_ASSERT(offsetof(cef_settings_t, background_color) == 188);
CEF_LAYOUT_ASSERT(offsetof(cef_settings_t, disable_signal_handlers) == 236);

const int LOGSEVERITY_WARNING = 3;

struct cef_browser_settings_t {
    size_t size;
    int windowless_frame_rate;
    cef_string_t standard_font_family;
    cef_string_t fixed_font_family;
    cef_string_t serif_font_family;
    cef_string_t sans_serif_font_family;
    cef_string_t cursive_font_family;
    cef_string_t fantasy_font_family;
    int default_font_size;
    int default_fixed_font_size;
    int minimum_font_size;
    int minimum_logical_font_size;
    cef_string_t default_encoding;
    int remote_fonts;  // cef_state_t, as are the members up to webgl
    int javascript;
    int javascript_close_windows;
    int javascript_access_clipboard;
    int javascript_dom_paste;
    int image_loading;
    int image_shrink_standalone_to_fit;
    int text_area_resize;
    int tab_to_links;
    int local_storage;
    int databases_deprecated;
    int webgl;
    cef_color_t background_color;
    int chrome_status_bubble;
    int chrome_zoom_bubble;
};
CEF_LAYOUT_ASSERT(sizeof(cef_browser_settings_t) == 168);
CEF_LAYOUT_ASSERT(offsetof(cef_browser_settings_t, size) == 0);
CEF_LAYOUT_ASSERT(offsetof(cef_browser_settings_t, default_encoding) == 96);
CEF_LAYOUT_ASSERT(offsetof(cef_browser_settings_t, background_color) == 156);
CEF_LAYOUT_ASSERT(offsetof(cef_browser_settings_t, chrome_zoom_bubble) == 164);

struct cef_window_info_t {
    size_t size;
    DWORD ex_style;
    cef_string_t window_name;
    DWORD style;
    cef_rect_t bounds;
    HWND parent_window;
    HMENU menu;
    int windowless_rendering_enabled;
    int shared_texture_enabled;
    int external_begin_frame_enabled;
    HWND window;
    int runtime_style;  // cef_runtime_style_t
};
CEF_LAYOUT_ASSERT(sizeof(cef_window_info_t) == 68);
CEF_LAYOUT_ASSERT(offsetof(cef_window_info_t, size) == 0);
CEF_LAYOUT_ASSERT(offsetof(cef_window_info_t, ex_style) == 4);
CEF_LAYOUT_ASSERT(offsetof(cef_window_info_t, window_name) == 8);
CEF_LAYOUT_ASSERT(offsetof(cef_window_info_t, style) == 20);
CEF_LAYOUT_ASSERT(offsetof(cef_window_info_t, bounds) == 24);
CEF_LAYOUT_ASSERT(offsetof(cef_window_info_t, parent_window) == 40);
CEF_LAYOUT_ASSERT(offsetof(cef_window_info_t, menu) == 44);
CEF_LAYOUT_ASSERT(offsetof(cef_window_info_t, windowless_rendering_enabled) == 48);
CEF_LAYOUT_ASSERT(offsetof(cef_window_info_t, window) == 60);
CEF_LAYOUT_ASSERT(offsetof(cef_window_info_t, runtime_style) == 64);

const int CEF_RUNTIME_STYLE_ALLOY = 2;

// ---- exported functions (__cdecl) ----------------------------------------------

struct cef_app_t;
struct cef_client_t;
struct cef_scheme_handler_factory_t;
struct cef_dictionary_value_t;
struct cef_request_context_t;

typedef const char* (*cef_api_hash_fn)(int version, int entry);
typedef int (*cef_initialize_fn)(const cef_main_args_t* args, const cef_settings_t* settings,
                                 cef_app_t* application, void* windows_sandbox_info);
typedef int (*cef_execute_process_fn)(const cef_main_args_t* args, cef_app_t* application,
                                      void* windows_sandbox_info);
typedef int (*cef_browser_host_create_browser_fn)(const cef_window_info_t* window_info,
                                                  cef_client_t* client, const cef_string_t* url,
                                                  const cef_browser_settings_t* settings,
                                                  cef_dictionary_value_t* extra_info,
                                                  cef_request_context_t* request_context);
typedef int (*cef_register_scheme_handler_factory_fn)(const cef_string_t* scheme_name,
                                                      const cef_string_t* domain_name,
                                                      cef_scheme_handler_factory_t* factory);
typedef int (*cef_string_utf8_to_utf16_fn)(const char* src, size_t src_len,
                                           cef_string_t* output);
typedef int (*cef_string_utf16_to_utf8_fn)(const char16_t* src, size_t src_len,
                                           cef_string_utf8_t* output);
typedef void (*cef_string_utf16_clear_fn)(cef_string_t* str);
typedef void (*cef_string_utf8_clear_fn)(cef_string_utf8_t* str);
typedef void (*cef_string_userfree_utf16_free_fn)(cef_string_userfree_t str);
typedef void (*cef_void_fn)();

}  // extern "C"
