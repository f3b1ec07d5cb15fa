#pragma once
// The launcher's one browser: its creation in the main window, its life span,
// the navigation allow-list and the context-menu rule.
#include <string_view>

#include "cef_objects.h"
#include "launcher/core/window_messages.h"  // main_window, the browser's parent

// The browser, holding one reference of its own from `on_after_created` to
// `on_before_close`; null before and after. Window thread only.
extern cef_browser_t* current_browser;

const char START_URL[] = "http://ui/index.html#/launcher";

// Fills the client object and its handlers; done by `init_browser_runtime`
// before any browser can exist.
void prepare_browser_handlers();
cef_client_t* browser_client();

// Asks the runtime for the browser, filling the client area of `main_window`.
// The browser arrives later, in `on_after_created`.
void create_browser_window();

// Only the launcher's own pages and the developer tools may be shown.
bool is_allowed_navigation(std::string_view url);
