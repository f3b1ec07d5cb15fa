// The runtime objects the stand-in hands to the launcher. Their reference
// counts are real, so that a reference the launcher keeps or gives back twice
// shows in the report; their memory is kept for the life of the process, so a
// late call through a stale pointer cannot crash the test.
#include <vector>

#include "stub.h"

namespace {

template <typename T>
struct Counted {
    T cef;
    volatile LONG refs = 1;
    std::string text;  // url of a request, mime type of a response, type of a command line
    int number = 0;    // status of a response, items of a menu
    StubBrowser* owner = nullptr;
    const char* kind = "";
};

template <typename T>
Counted<T>* counted(void* self) {
    return reinterpret_cast<Counted<T>*>(self);
}

template <typename T>
void CEF_CALLBACK add_ref(cef_base_ref_counted_t* self) {
    InterlockedIncrement(&counted<T>(self)->refs);
}
template <typename T>
int CEF_CALLBACK release(cef_base_ref_counted_t* self) {
    LONG left = InterlockedDecrement(&counted<T>(self)->refs);
    if (left < 0) report("!! reference released once too often");
    return left == 0;
}
template <typename T>
int CEF_CALLBACK has_one_ref(cef_base_ref_counted_t* self) {
    return counted<T>(self)->refs == 1;
}
template <typename T>
int CEF_CALLBACK has_at_least_one_ref(cef_base_ref_counted_t* self) {
    return counted<T>(self)->refs > 0;
}

// Every object made, so that the end of the run can name those whose
// references were not given back (fetches make them on threads of their own).
struct Tracked {
    const char* kind;
    volatile LONG* refs;
};
std::vector<Tracked>& tracked() {
    static std::vector<Tracked> all;
    return all;
}
CRITICAL_SECTION* tracked_lock() {
    static CRITICAL_SECTION lock;
    static bool ready = (InitializeCriticalSection(&lock), true);
    (void)ready;
    return &lock;
}

template <typename T>
Counted<T>* make(LONG refs, const char* kind) {
    Counted<T>* object = new Counted<T>;
    EnterCriticalSection(tracked_lock());
    tracked().push_back({kind, &object->refs});
    LeaveCriticalSection(tracked_lock());
    object->cef = T{};
    object->cef.base.size = sizeof(T);
    object->cef.base.add_ref = add_ref<T>;
    object->cef.base.release = release<T>;
    object->cef.base.has_one_ref = has_one_ref<T>;
    object->cef.base.has_at_least_one_ref = has_at_least_one_ref<T>;
    object->refs = refs;
    object->kind = kind;
    return object;
}

// A call through an object whose last reference is gone: the runtime would
// have freed it, so the launcher held a pointer it no longer owned.
template <typename T>
bool still_held(T* self, const char* call) {
    Counted<T>* object = counted<T>(self);
    if (object->refs > 0) return true;
    report("!! %s %s after its last reference", object->kind, call);
    return false;
}

cef_string_userfree_t CEF_CALLBACK request_get_url(cef_request_t* self) {
    return new_userfree_text(counted<cef_request_t>(self)->text);
}

void CEF_CALLBACK response_set_status(cef_response_t* self, int status) {
    counted<cef_response_t>(self)->number = status;
}
void CEF_CALLBACK response_set_mime_type(cef_response_t* self, const cef_string_t* mime) {
    counted<cef_response_t>(self)->text = utf8_of(mime);
}

void CEF_CALLBACK command_line_append_switch(cef_command_line_t* self, const cef_string_t* name) {
    const std::string& type = counted<cef_command_line_t>(self)->text;
    report("switch %s %s", type.empty() ? "browser" : type.c_str(), utf8_of(name).c_str());
}

int CEF_CALLBACK menu_clear(cef_menu_model_t* self) {
    counted<cef_menu_model_t>(self)->number = 0;
    return 1;
}
size_t CEF_CALLBACK menu_get_count(cef_menu_model_t* self) {
    return counted<cef_menu_model_t>(self)->number;
}

// A right click at (10, 10) on the page itself: no link, image, selection or
// editable field under it.
const int CM_TYPEFLAG_PAGE = 1;

template <int value>
int CEF_CALLBACK params_number(cef_context_menu_params_t* self) {
    still_held(self, "read");
    return value;
}
cef_string_userfree_t CEF_CALLBACK params_text(cef_context_menu_params_t* self) {
    still_held(self, "read");
    return new_userfree_text("");
}
int CEF_CALLBACK params_dictionary_suggestions(cef_context_menu_params_t* self, void*) {
    still_held(self, "read");
    return 0;
}

// The stand-in serves only what a handler answers within the call, as the
// launcher's handler does; a handler that answered later through its callback
// would leave this runtime's request waiting for nothing.
template <typename T>
void later_answer(T* self, const char* call) {
    if (still_held(self, call))
        report("!! %s %s: this runtime takes only answers given within the call",
               counted<T>(self)->kind, call);
}
void CEF_CALLBACK callback_cont(cef_callback_t* self) { later_answer(self, "cont"); }
void CEF_CALLBACK callback_cancel(cef_callback_t* self) { later_answer(self, "cancel"); }
void CEF_CALLBACK skip_callback_cont(cef_resource_skip_callback_t* self, int64_t) {
    later_answer(self, "cont");
}
void CEF_CALLBACK read_callback_cont(cef_resource_read_callback_t* self, int) {
    later_answer(self, "cont");
}

std::vector<StubBrowser*> browsers;

}  // namespace

// The browser, its host and its main frame. The launcher holds no reference
// at first: the browser reaches it as a callback argument.
struct StubBrowser {
    Counted<cef_browser_t>* browser;
    Counted<cef_browser_host_t>* host;
    Counted<cef_frame_t>* frame;
    HWND window;
    int identifier;
};

namespace {

StubBrowser* owner_of_host(cef_browser_host_t* self) { return counted<cef_browser_host_t>(self)->owner; }
StubBrowser* owner_of_browser(cef_browser_t* self) { return counted<cef_browser_t>(self)->owner; }

cef_browser_host_t* CEF_CALLBACK browser_get_host(cef_browser_t* self) {
    cef_browser_host_t* host = &owner_of_browser(self)->host->cef;
    host->base.add_ref(&host->base);
    return host;
}
cef_frame_t* CEF_CALLBACK browser_get_main_frame(cef_browser_t* self) {
    cef_frame_t* frame = &owner_of_browser(self)->frame->cef;
    frame->base.add_ref(&frame->base);
    return frame;
}
int CEF_CALLBACK browser_get_identifier(cef_browser_t* self) {
    return owner_of_browser(self)->identifier;
}
void CEF_CALLBACK host_close_browser(cef_browser_host_t* self, int force) {
    report("close_browser %d", force);
    request_browser_close(owner_of_host(self), force);
}
void CEF_CALLBACK host_set_focus(cef_browser_host_t* self, int focus) {
    report("set_focus %d", focus);
}
void CEF_CALLBACK frame_execute_java_script(cef_frame_t* self, const cef_string_t* code,
                                            const cef_string_t* url, int line) {
    std::string text = utf8_of(code);
    report("script\t%s\t%d\t%s", utf8_of(url).c_str(), line, escape(text).c_str());
    note_script(text, utf8_of(url), line);
}

}  // namespace

cef_request_t* new_request(std::string_view url) {
    auto* request = make<cef_request_t>(1, "request");
    request->text = url;
    request->cef.get_url = request_get_url;
    return &request->cef;
}

cef_response_t* new_response() {
    auto* response = make<cef_response_t>(1, "response");
    response->cef.set_status = response_set_status;
    response->cef.set_mime_type = response_set_mime_type;
    return &response->cef;
}

int response_status(cef_response_t* response) { return counted<cef_response_t>(response)->number; }
std::string response_mime_type(cef_response_t* response) {
    return counted<cef_response_t>(response)->text;
}

cef_command_line_t* new_command_line(const std::string& process_type) {
    auto* command_line = make<cef_command_line_t>(1, "command line");
    command_line->text = process_type;
    command_line->cef.append_switch = command_line_append_switch;
    return &command_line->cef;
}

cef_menu_model_t* new_menu_model(size_t items) {
    auto* menu = make<cef_menu_model_t>(1, "menu model");
    menu->number = static_cast<int>(items);
    menu->cef.clear = menu_clear;
    menu->cef.get_count = menu_get_count;
    return &menu->cef;
}

cef_context_menu_params_t* new_context_menu_params() {
    cef_context_menu_params_t& p = make<cef_context_menu_params_t>(1, "context menu params")->cef;
    p.get_xcoord = params_number<10>;
    p.get_ycoord = params_number<10>;
    p.get_type_flags = params_number<CM_TYPEFLAG_PAGE>;
    p.get_link_url = params_text;
    p.get_unfiltered_link_url = params_text;
    p.get_source_url = params_text;
    p.has_image_contents = params_number<0>;
    p.get_title_text = params_text;
    p.get_page_url = params_text;
    p.get_frame_url = params_text;
    p.get_frame_charset = params_text;
    p.get_media_type = params_number<0>;
    p.get_media_state_flags = params_number<0>;
    p.get_selection_text = params_text;
    p.get_misspelled_word = params_text;
    p.get_dictionary_suggestions = params_dictionary_suggestions;
    p.is_editable = params_number<0>;
    p.is_spell_check_enabled = params_number<0>;
    p.get_edit_state_flags = params_number<0>;
    p.is_custom_menu = params_number<0>;
    return &p;
}

cef_callback_t* new_open_callback() {
    cef_callback_t& callback = make<cef_callback_t>(1, "open callback")->cef;
    callback.cont = callback_cont;
    callback.cancel = callback_cancel;
    return &callback;
}

cef_resource_skip_callback_t* new_skip_callback() {
    cef_resource_skip_callback_t& callback =
        make<cef_resource_skip_callback_t>(1, "skip callback")->cef;
    callback.cont = skip_callback_cont;
    return &callback;
}

cef_resource_read_callback_t* new_read_callback() {
    cef_resource_read_callback_t& callback =
        make<cef_resource_read_callback_t>(1, "read callback")->cef;
    callback.cont = read_callback_cont;
    return &callback;
}

StubBrowser* new_browser(HWND window, int identifier) {
    StubBrowser* b = new StubBrowser{make<cef_browser_t>(0, "browser"),
                                     make<cef_browser_host_t>(0, "browser host"),
                                     make<cef_frame_t>(0, "frame"), window, identifier};
    b->browser->owner = b->host->owner = b->frame->owner = b;
    b->browser->cef.get_host = browser_get_host;
    b->browser->cef.get_main_frame = browser_get_main_frame;
    b->browser->cef.get_identifier = browser_get_identifier;
    b->host->cef.close_browser = host_close_browser;
    b->host->cef.set_focus = host_set_focus;
    b->frame->cef.execute_java_script = frame_execute_java_script;
    browsers.push_back(b);
    return b;
}

cef_browser_t* browser_object(StubBrowser* browser) { return &browser->browser->cef; }
cef_frame_t* frame_object(StubBrowser* browser) { return &browser->frame->cef; }
HWND browser_window(StubBrowser* browser) { return browser->window; }
int browser_identifier(StubBrowser* browser) { return browser->identifier; }

long outstanding_references() {
    long sum = 0;
    EnterCriticalSection(tracked_lock());
    for (const Tracked& t : tracked()) {
        if (*t.refs != 0) report("!! %s left with %ld references", t.kind, static_cast<long>(*t.refs));
        sum += *t.refs > 0 ? *t.refs : -*t.refs;
    }
    LeaveCriticalSection(tracked_lock());
    return sum;
}
