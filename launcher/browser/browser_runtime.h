#pragma once
// Loading, binding and starting the browser runtime from the "cef" folder
// beside the launcher, with the launcher's fixed settings, and registering the
// page's address space "http://ui/".
#include <cstdint>

#include "cef_objects.h"

// Once, on the main thread, after COM and before the main window exists. On
// false the reason has been logged; the library, when loaded, stays loaded.
bool init_browser_runtime();

// The page archive embedded in `module` as RCDATA 101; null and 0 when the
// module has none.
const unsigned char* find_page_archive(HMODULE module, uint32_t& size);

// The application object's callback: the same two switches for the browser
// process and every sub-process.
void CEF_CALLBACK on_before_command_line_processing(cef_app_t* self,
                                                   const cef_string_t* process_type,
                                                   cef_command_line_t* command_line);
