#include "ui_resource_handler.h"

#include <cstring>
#include <new>

#include "cef_api.h"
#include "launcher/browser/cef_arg_ref.h"
#include "ui_resource_server.h"

namespace {

volatile LONG live_handlers = 0;

UiResourceHandler* handler_of(void* self) { return static_cast<UiResourceHandler*>(self); }

void CEF_CALLBACK handler_add_ref(cef_base_ref_counted_t* self) {
    InterlockedIncrement(&handler_of(self)->ref_count);
}

int CEF_CALLBACK handler_release(cef_base_ref_counted_t* self) {
    UiResourceHandler* handler = handler_of(self);
    if (InterlockedDecrement(&handler->ref_count) != 0) return 0;
    delete handler;
    InterlockedDecrement(&live_handlers);
    return 1;
}

int CEF_CALLBACK handler_has_one_ref(cef_base_ref_counted_t* self) {
    return InterlockedCompareExchange(&handler_of(self)->ref_count, 0, 0) == 1;
}

int CEF_CALLBACK handler_has_at_least_one_ref(cef_base_ref_counted_t* self) {
    return InterlockedCompareExchange(&handler_of(self)->ref_count, 0, 0) > 0;
}

int CEF_CALLBACK handler_open(cef_resource_handler_t* self, cef_request_t* request,
                              int* handle_request, cef_callback_t* callback) {
    CefArgRef<cef_request_t> request_argument(request);
    CefArgRef<cef_callback_t> callback_argument(callback);
    if (handle_request) *handle_request = 1;
    UiResourceHandler* handler = handler_of(self);
    handler->read_offset = 0;
    try {
        std::string url =
            request ? take_userfree_text(request->get_url(request)) : std::string();
        UiResponse response = resolve_ui_request(*handler->factory, url);
        handler->status = response.status;
        handler->mime_type = std::move(response.mime_type);
        handler->body = std::move(response.body);
    } catch (const std::bad_alloc&) {
        // Out of memory inside the runtime's callback: this request fails,
        // the process goes on.
        handler->status = 404;
        handler->mime_type.clear();
        handler->body.clear();
    }
    return 1;
}

void CEF_CALLBACK handler_get_response_headers(cef_resource_handler_t* self,
                                               cef_response_t* response,
                                               int64_t* response_length,
                                               cef_string_t* redirect_url) {
    CefArgRef<cef_response_t> response_argument(response);
    UiResourceHandler* handler = handler_of(self);
    if (response) {
        response->set_status(response, handler->status);
        CefText mime(handler->mime_type);
        response->set_mime_type(response, mime.get());
    }
    if (response_length) *response_length = static_cast<int64_t>(handler->body.size());
}

// How many of `wanted` bytes are left in the body; a negative count is none.
uint32_t available(const UiResourceHandler* handler, int64_t wanted) {
    uint32_t left = static_cast<uint32_t>(handler->body.size()) - handler->read_offset;
    if (wanted <= 0) return 0;
    return static_cast<uint64_t>(wanted) < left ? static_cast<uint32_t>(wanted) : left;
}

int CEF_CALLBACK handler_skip(cef_resource_handler_t* self, int64_t bytes_to_skip,
                              int64_t* bytes_skipped, cef_resource_skip_callback_t* callback) {
    CefArgRef<cef_resource_skip_callback_t> callback_argument(callback);
    UiResourceHandler* handler = handler_of(self);
    // The whole count: its low 32 bits alone could turn a skip past the end
    // into a short one.
    uint32_t n = available(handler, bytes_to_skip);
    handler->read_offset += n;
    if (bytes_skipped) *bytes_skipped = n;
    return n > 0 ? 1 : 0;
}

int CEF_CALLBACK handler_read(cef_resource_handler_t* self, void* data_out, int bytes_to_read,
                              int* bytes_read, cef_resource_read_callback_t* callback) {
    CefArgRef<cef_resource_read_callback_t> callback_argument(callback);
    UiResourceHandler* handler = handler_of(self);
    uint32_t n = data_out ? available(handler, bytes_to_read) : 0;
    if (n) std::memcpy(data_out, handler->body.data() + handler->read_offset, n);
    handler->read_offset += n;
    if (bytes_read) *bytes_read = static_cast<int>(n);
    return n > 0 ? 1 : 0;
}

void CEF_CALLBACK handler_cancel(cef_resource_handler_t*) {}

}  // namespace

cef_resource_handler_t* CEF_CALLBACK create_ui_resource_handler(
    cef_scheme_handler_factory_t* self, cef_browser_t* browser, cef_frame_t* frame,
    const cef_string_t* scheme_name, cef_request_t* request) {
    CefArgRef<cef_browser_t> browser_argument(browser);
    CefArgRef<cef_frame_t> frame_argument(frame);
    CefArgRef<cef_request_t> request_argument(request);
    // No handler tells the runtime to fail this one request; an exception
    // leaving the callback would end the process.
    UiResourceHandler* handler = new (std::nothrow) UiResourceHandler;
    if (!handler) return nullptr;
    handler->factory = reinterpret_cast<const UiSchemeFactory*>(self);
    cef_resource_handler_t& cef = handler->cef;
    cef = cef_resource_handler_t{};
    cef.base.size = sizeof(cef_resource_handler_t);
    cef.base.add_ref = handler_add_ref;
    cef.base.release = handler_release;
    cef.base.has_one_ref = handler_has_one_ref;
    cef.base.has_at_least_one_ref = handler_has_at_least_one_ref;
    cef.open = handler_open;
    cef.get_response_headers = handler_get_response_headers;
    cef.skip = handler_skip;
    cef.read = handler_read;
    cef.cancel = handler_cancel;
    InterlockedIncrement(&live_handlers);
    return &cef;
}

long live_ui_resource_handlers() { return InterlockedCompareExchange(&live_handlers, 0, 0); }
