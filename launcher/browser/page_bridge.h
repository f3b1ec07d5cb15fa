#pragma once
// The two channels between the page and the launcher: console lines with a
// fixed prefix from the page, and a DOM event "launcher" carrying one JSON
// event toward the page.
#include <string>
#include <string_view>

#include "cef_objects.h"

const char SCRIPT_URL[] = "korval://launcher";

// The script that raises one event in the page. The JSON is embedded as an
// object literal, unchanged: it must already be valid JSON.
std::string page_event_script(std::string_view json);

// Runs the event's script in the page's main frame. Window thread only;
// without a browser or a main frame the event is dropped silently.
void send_page_event(std::string_view json);

// The display handler's console callback is the page message dispatcher
// (session/page_dispatcher.h).
void prepare_page_display_handler();
cef_display_handler_t* page_display_handler();
