#pragma once
// The server of the page's address space "http://ui/": each request is
// answered from the override folder beside the launcher when the file is
// there, otherwise from the page archive (embedded, or the fall-back file).
#include <cstdint>
#include <string>
#include <string_view>

#include "cef_objects.h"
#include "ui_request_rules.h"

// The one factory registered for scheme "http", domain "ui". The runtime sees
// only the leading runtime structure; the fields after it are the launcher's.
struct UiSchemeFactory {
    cef_scheme_handler_factory_t cef;
    uint32_t archive_size = 0;
    const unsigned char* archive_data = nullptr;  // embedded archive, or null
    std::string base_dir;                         // app_dir + "\KORVAL", ANSI
};
CEF_LAYOUT_ASSERT(offsetof(UiSchemeFactory, cef) == 0);

// A request's complete answer, decided when the request is opened.
struct UiResponse {
    int status = 404;
    std::string mime_type;
    std::string body;
};

// Fills the process's factory; called once before it is registered.
UiSchemeFactory* prepare_ui_scheme_factory(const std::string& app_dir,
                                           const unsigned char* archive_data,
                                           uint32_t archive_size);

// The answer to one address (UTF-8). Runs on the runtime's network thread:
// it reads the factory and touches nothing else that is shared.
UiResponse resolve_ui_request(const UiSchemeFactory& factory, const std::string& url);
