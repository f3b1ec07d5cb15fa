#pragma once
// The stand-in browser runtime: a libcef.dll for tests that exports the
// functions the launcher binds, records what it is given into
// "stub_report.txt" beside itself, and plays the scenario in
// "stub_scenario.txt" beside itself (see README.md in this folder).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/browser/cef_objects.h"
#include "stub_arguments.h"

#define STUB_EXPORT extern "C" __declspec(dllexport)

// ---- report -------------------------------------------------------------------

// Appends one line to the report; the file is written through at once, so a
// test reads it even after a crash.
void report(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
// Bytes as printable text: backslash, tab and non-ASCII bytes escaped.
std::string escape(std::string_view bytes);
// Notes the first exported call, so that a call before cef_api_hash shows.
void note_call(const char* name);

// ---- texts ----------------------------------------------------------------------

std::string utf8_of(const cef_string_t* text);
// A text owned by the stub (for arguments the stub passes): release with clear.
void set_text(cef_string_t& text, std::string_view utf8);
void clear_text(cef_string_t& text);
// A text handed over for the launcher to free with cef_string_userfree_utf16_free.
cef_string_userfree_t new_userfree_text(std::string_view utf8);
// Texts the launcher holds but has not released: built by it, or handed to it.
long live_texts();
long live_userfree_texts();

// ---- scenario -------------------------------------------------------------------

struct Scenario {
    bool initialize_fails = false;
    bool create_browser_fails = false;
    bool has_execute_result = false;
    int execute_result = 0;
    std::vector<std::string> steps;  // the lines that are played, in order
};
const Scenario& scenario();
std::string stub_folder();  // the folder of this library, no trailing separator

// ---- objects ----------------------------------------------------------------------

cef_request_t* new_request(std::string_view url);
cef_response_t* new_response();
cef_command_line_t* new_command_line(const std::string& process_type);
cef_menu_model_t* new_menu_model(size_t items);
// Arguments that live for one call into the launcher: the stand-in gives its
// own reference back when the call has returned.
cef_context_menu_params_t* new_context_menu_params();
cef_callback_t* new_open_callback();
cef_resource_skip_callback_t* new_skip_callback();
cef_resource_read_callback_t* new_read_callback();
int response_status(cef_response_t* response);
std::string response_mime_type(cef_response_t* response);

struct StubBrowser;
StubBrowser* new_browser(HWND window, int identifier);
cef_browser_t* browser_object(StubBrowser* browser);
cef_frame_t* frame_object(StubBrowser* browser);

// The runtime's rule for a callback's arguments: each one arrives with a
// reference that the callee owns and must give back.
template <typename T>
T* handed(T* object) {
    if (object) object->base.add_ref(&object->base);
    return object;
}
HWND browser_window(StubBrowser* browser);
int browser_identifier(StubBrowser* browser);
// References the launcher took and has not given back, across every object the
// stub handed to it: the browser, its host and frame, requests, responses,
// command lines, menus and their parameters, the resource handler's callbacks.
long outstanding_references();

// ---- the one browser of the launcher ------------------------------------------------

extern cef_app_t* stub_application;
extern cef_scheme_handler_factory_t* stub_factory;
int create_browser(const cef_window_info_t* window_info, cef_client_t* client,
                   const cef_string_t* url, const cef_browser_settings_t* settings);
// Called by the host object when the launcher asks the browser to close.
void request_browser_close(StubBrowser* browser, int force);
// Every script the launcher runs in the page: the stand-in keeps it for the
// scenario's `await` steps, the real-browser build runs it in the page.
void note_script(const std::string& code, const std::string& url, int line);
void destroy_stub_windows();

// ---- what both browsers share (stub_window.cpp) -------------------------------------

HINSTANCE stub_instance();
// Reports the size of the client and of each handler it gives, and every
// size that differs from the runtime's.
void check_client(cef_client_t* client);
// The message-only window that runs the browser's work on the UI thread, and
// the class of the browser's own child window.
HWND create_control_window(WNDPROC control_proc, WNDPROC browser_proc);
void destroy_control_window(HWND control);
HWND create_browser_window(const cef_window_info_t& info);
// The rest of the browser window's messages: black paint, as the runtime's
// window shows before its first frame.
LRESULT browser_window_default(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// on_before_browse for the URL; its answer (1 cancels).
int navigate(cef_client_t* client, StubBrowser* browser, const std::string& url);
// on_before_context_menu with a menu of 3 items; the items the launcher left.
size_t ask_context_menu(cef_client_t* client, StubBrowser* browser);
// What the runtime does when a browser is to close: do_close, and when that
// answers 0, WM_CLOSE to the top-level window.
void run_close_order(cef_client_t* client, StubBrowser* browser);

// One page request as the runtime's network thread makes it: the factory's
// handler created, opened, its headers taken, read to the end, released.
struct ServeOptions {
    long long skip = 0;
    int read_size = 1000;
    // The real runtime reads only what was opened and handled at once; the
    // scripted one reads in any case, to show what a handler then does.
    bool only_when_opened = false;
};
struct Served {
    const char* refusal = "";  // set when no handler was there to ask
    int opened = 0, handle_request = -1, skip_result = 0;
    int64_t length = -2, skipped = 0;
    int status = 0;
    std::string mime, body;
    bool freed = false;  // the handler lived until the runtime's own release
};
bool serve_page_request(StubBrowser* browser, const std::string& url, const ServeOptions& options,
                        Served& out);
