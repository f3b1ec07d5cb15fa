#pragma once
// One page request as the runtime sees it: a resource handler object with a
// real, atomic reference count, whose whole answer is fixed when it is opened
// and then streamed from memory.
#include <cstdint>
#include <string>

#include "cef_objects.h"

struct UiSchemeFactory;

struct UiResourceHandler {
    cef_resource_handler_t cef;
    volatile LONG ref_count = 1;
    std::string body;
    uint32_t read_offset = 0;
    std::string mime_type;
    int status = 404;
    const UiSchemeFactory* factory = nullptr;  // the one that created it
};

// The factory's `create`: a new handler holding one reference for the caller.
cef_resource_handler_t* CEF_CALLBACK create_ui_resource_handler(
    cef_scheme_handler_factory_t* self, cef_browser_t* browser, cef_frame_t* frame,
    const cef_string_t* scheme_name, cef_request_t* request);

// Handlers alive in this process: a leak shows as a count that never drops.
long live_ui_resource_handlers();
CEF_LAYOUT_ASSERT(offsetof(UiResourceHandler, cef) == 0);
