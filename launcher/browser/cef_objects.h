#pragma once
// The browser runtime's ref-counted structures (API version 14800, 32-bit
// Windows): the handlers the launcher implements and the runtime objects it
// calls. Slots the launcher neither sets nor calls are declared as plain
// pointers under their runtime names, so that every member keeps its place.
#include "cef_types.h"

extern "C" {

struct cef_base_ref_counted_t {
    size_t size;
    void(CEF_CALLBACK* add_ref)(cef_base_ref_counted_t* self);
    int(CEF_CALLBACK* release)(cef_base_ref_counted_t* self);
    int(CEF_CALLBACK* has_one_ref)(cef_base_ref_counted_t* self);
    int(CEF_CALLBACK* has_at_least_one_ref)(cef_base_ref_counted_t* self);
};
CEF_LAYOUT_ASSERT(sizeof(cef_base_ref_counted_t) == 20);
CEF_LAYOUT_ASSERT(offsetof(cef_base_ref_counted_t, add_ref) == 4);
CEF_LAYOUT_ASSERT(offsetof(cef_base_ref_counted_t, release) == 8);
CEF_LAYOUT_ASSERT(offsetof(cef_base_ref_counted_t, has_one_ref) == 12);
CEF_LAYOUT_ASSERT(offsetof(cef_base_ref_counted_t, has_at_least_one_ref) == 16);

struct cef_browser_t;
struct cef_frame_t;
struct cef_request_t;
struct cef_response_t;
struct cef_callback_t;
struct cef_resource_read_callback_t;
struct cef_resource_skip_callback_t;
struct cef_command_line_t;
struct cef_menu_model_t;
struct cef_context_menu_params_t;
struct cef_display_handler_t;
struct cef_life_span_handler_t;
struct cef_request_handler_t;
struct cef_context_menu_handler_t;
struct cef_resource_handler_t;

// ---- runtime objects the launcher calls ------------------------------------------

struct cef_browser_host_t {
    cef_base_ref_counted_t base;
    void* get_browser;
    void(CEF_CALLBACK* close_browser)(cef_browser_host_t* self, int force_close);
    void* try_close_browser;
    void* is_ready_to_be_closed;
    void(CEF_CALLBACK* set_focus)(cef_browser_host_t* self, int focus);
    void* rest[63];  // get_window_handle ... get_runtime_style
};
CEF_LAYOUT_ASSERT(sizeof(cef_browser_host_t) == 292);
CEF_LAYOUT_ASSERT(offsetof(cef_browser_host_t, close_browser) == 24);
CEF_LAYOUT_ASSERT(offsetof(cef_browser_host_t, set_focus) == 36);

struct cef_browser_t {
    cef_base_ref_counted_t base;
    void* is_valid;
    cef_browser_host_t*(CEF_CALLBACK* get_host)(cef_browser_t* self);
    void* navigation[8];  // can_go_back ... stop_load
    int(CEF_CALLBACK* get_identifier)(cef_browser_t* self);
    void* state[3];  // is_same, is_popup, has_document
    cef_frame_t*(CEF_CALLBACK* get_main_frame)(cef_browser_t* self);
    void* frames[6];  // get_focused_frame ... get_frame_names
};
CEF_LAYOUT_ASSERT(sizeof(cef_browser_t) == 104);
CEF_LAYOUT_ASSERT(offsetof(cef_browser_t, get_host) == 24);
CEF_LAYOUT_ASSERT(offsetof(cef_browser_t, get_identifier) == 60);
CEF_LAYOUT_ASSERT(offsetof(cef_browser_t, get_main_frame) == 76);

struct cef_frame_t {
    cef_base_ref_counted_t base;
    void* editing_and_loading[14];  // is_valid ... load_url
    void(CEF_CALLBACK* execute_java_script)(cef_frame_t* self, const cef_string_t* code,
                                            const cef_string_t* script_url, int start_line);
    void* rest[11];  // is_main ... send_process_message
};
CEF_LAYOUT_ASSERT(sizeof(cef_frame_t) == 124);
CEF_LAYOUT_ASSERT(offsetof(cef_frame_t, execute_java_script) == 76);

struct cef_request_t {
    cef_base_ref_counted_t base;
    void* is_read_only;
    cef_string_userfree_t(CEF_CALLBACK* get_url)(cef_request_t* self);
    void* rest[20];  // set_url ... get_identifier
};
CEF_LAYOUT_ASSERT(sizeof(cef_request_t) == 108);
CEF_LAYOUT_ASSERT(offsetof(cef_request_t, get_url) == 24);

struct cef_response_t {
    cef_base_ref_counted_t base;
    void* is_read_only;
    void* get_error;
    void* set_error;
    void* get_status;
    void(CEF_CALLBACK* set_status)(cef_response_t* self, int status);
    void* get_status_text;
    void* set_status_text;
    void* get_mime_type;
    void(CEF_CALLBACK* set_mime_type)(cef_response_t* self, const cef_string_t* mime_type);
    void* rest[8];  // get_charset ... set_url
};
CEF_LAYOUT_ASSERT(sizeof(cef_response_t) == 88);
CEF_LAYOUT_ASSERT(offsetof(cef_response_t, set_status) == 36);
CEF_LAYOUT_ASSERT(offsetof(cef_response_t, set_mime_type) == 52);

struct cef_command_line_t {
    cef_base_ref_counted_t base;
    void* queries[14];  // is_valid ... get_switches
    void(CEF_CALLBACK* append_switch)(cef_command_line_t* self, const cef_string_t* name);
    void* rest[6];  // append_switch_with_value ... remove_switch
};
CEF_LAYOUT_ASSERT(sizeof(cef_command_line_t) == 104);
CEF_LAYOUT_ASSERT(offsetof(cef_command_line_t, append_switch) == 76);

struct cef_menu_model_t {
    cef_base_ref_counted_t base;
    void* is_sub_menu;
    int(CEF_CALLBACK* clear)(cef_menu_model_t* self);
    size_t(CEF_CALLBACK* get_count)(cef_menu_model_t* self);
    void* rest[53];  // add_separator ... set_font_list_at
};
CEF_LAYOUT_ASSERT(sizeof(cef_menu_model_t) == 244);
CEF_LAYOUT_ASSERT(offsetof(cef_menu_model_t, clear) == 24);
CEF_LAYOUT_ASSERT(offsetof(cef_menu_model_t, get_count) == 28);

// ---- handlers the launcher implements ----------------------------------------------

struct cef_app_t {
    cef_base_ref_counted_t base;
    void(CEF_CALLBACK* on_before_command_line_processing)(cef_app_t* self,
                                                          const cef_string_t* process_type,
                                                          cef_command_line_t* command_line);
    void* on_register_custom_schemes;
    void* get_resource_bundle_handler;
    void* get_browser_process_handler;
    void* get_render_process_handler;
};
CEF_LAYOUT_ASSERT(sizeof(cef_app_t) == 40);
CEF_LAYOUT_ASSERT(offsetof(cef_app_t, on_before_command_line_processing) == 20);
CEF_LAYOUT_ASSERT(offsetof(cef_app_t, get_render_process_handler) == 36);

struct cef_client_t {
    cef_base_ref_counted_t base;
    void* get_audio_handler;
    void* get_command_handler;
    cef_context_menu_handler_t*(CEF_CALLBACK* get_context_menu_handler)(cef_client_t* self);
    void* get_dialog_handler;
    cef_display_handler_t*(CEF_CALLBACK* get_display_handler)(cef_client_t* self);
    void* get_download_handler;
    void* get_drag_handler;
    void* get_find_handler;
    void* get_focus_handler;
    void* get_frame_handler;
    void* get_permission_handler;
    void* get_jsdialog_handler;
    void* get_keyboard_handler;
    cef_life_span_handler_t*(CEF_CALLBACK* get_life_span_handler)(cef_client_t* self);
    void* get_load_handler;
    void* get_print_handler;
    void* get_render_handler;
    cef_request_handler_t*(CEF_CALLBACK* get_request_handler)(cef_client_t* self);
    void* on_process_message_received;
};
CEF_LAYOUT_ASSERT(sizeof(cef_client_t) == 96);
CEF_LAYOUT_ASSERT(offsetof(cef_client_t, get_context_menu_handler) == 28);
CEF_LAYOUT_ASSERT(offsetof(cef_client_t, get_display_handler) == 36);
CEF_LAYOUT_ASSERT(offsetof(cef_client_t, get_life_span_handler) == 72);
CEF_LAYOUT_ASSERT(offsetof(cef_client_t, get_request_handler) == 88);
CEF_LAYOUT_ASSERT(offsetof(cef_client_t, on_process_message_received) == 92);

struct cef_display_handler_t {
    cef_base_ref_counted_t base;
    void* on_address_change;
    void* on_title_change;
    void* on_favicon_urlchange;
    void* on_fullscreen_mode_change;
    void* on_tooltip;
    void* on_status_message;
    int(CEF_CALLBACK* on_console_message)(cef_display_handler_t* self, cef_browser_t* browser,
                                          int level, const cef_string_t* message,
                                          const cef_string_t* source, int line);
    void* on_auto_resize;
    void* on_loading_progress_change;
    void* on_cursor_change;
    void* on_media_access_change;
    void* on_contents_bounds_change;
    void* get_root_window_screen_rect;
};
CEF_LAYOUT_ASSERT(sizeof(cef_display_handler_t) == 72);
CEF_LAYOUT_ASSERT(offsetof(cef_display_handler_t, on_console_message) == 44);
CEF_LAYOUT_ASSERT(offsetof(cef_display_handler_t, get_root_window_screen_rect) == 68);

struct cef_life_span_handler_t {
    cef_base_ref_counted_t base;
    void* on_before_popup;
    void* on_before_popup_aborted;
    void* on_before_dev_tools_popup;
    void(CEF_CALLBACK* on_after_created)(cef_life_span_handler_t* self, cef_browser_t* browser);
    int(CEF_CALLBACK* do_close)(cef_life_span_handler_t* self, cef_browser_t* browser);
    void(CEF_CALLBACK* on_before_close)(cef_life_span_handler_t* self, cef_browser_t* browser);
};
CEF_LAYOUT_ASSERT(sizeof(cef_life_span_handler_t) == 44);
CEF_LAYOUT_ASSERT(offsetof(cef_life_span_handler_t, on_after_created) == 32);
CEF_LAYOUT_ASSERT(offsetof(cef_life_span_handler_t, do_close) == 36);
CEF_LAYOUT_ASSERT(offsetof(cef_life_span_handler_t, on_before_close) == 40);

struct cef_request_handler_t {
    cef_base_ref_counted_t base;
    int(CEF_CALLBACK* on_before_browse)(cef_request_handler_t* self, cef_browser_t* browser,
                                        cef_frame_t* frame, cef_request_t* request,
                                        int user_gesture, int is_redirect);
    void* on_open_urlfrom_tab;
    void* get_resource_request_handler;
    void* get_auth_credentials;
    void* on_certificate_error;
    void* on_select_client_certificate;
    void* on_render_view_ready;
    void* on_render_process_unresponsive;
    void* on_render_process_responsive;
    void* on_render_process_terminated;
    void* on_document_available_in_main_frame;
};
CEF_LAYOUT_ASSERT(sizeof(cef_request_handler_t) == 64);
CEF_LAYOUT_ASSERT(offsetof(cef_request_handler_t, on_before_browse) == 20);
CEF_LAYOUT_ASSERT(offsetof(cef_request_handler_t, on_document_available_in_main_frame) == 60);

struct cef_context_menu_handler_t {
    cef_base_ref_counted_t base;
    void(CEF_CALLBACK* on_before_context_menu)(cef_context_menu_handler_t* self,
                                               cef_browser_t* browser, cef_frame_t* frame,
                                               cef_context_menu_params_t* params,
                                               cef_menu_model_t* model);
    void* run_context_menu;
    void* on_context_menu_command;
    void* on_context_menu_dismissed;
    void* run_quick_menu;
    void* on_quick_menu_command;
    void* on_quick_menu_dismissed;
};
CEF_LAYOUT_ASSERT(sizeof(cef_context_menu_handler_t) == 48);
CEF_LAYOUT_ASSERT(offsetof(cef_context_menu_handler_t, on_before_context_menu) == 20);

struct cef_scheme_handler_factory_t {
    cef_base_ref_counted_t base;
    cef_resource_handler_t*(CEF_CALLBACK* create)(cef_scheme_handler_factory_t* self,
                                                  cef_browser_t* browser, cef_frame_t* frame,
                                                  const cef_string_t* scheme_name,
                                                  cef_request_t* request);
};
CEF_LAYOUT_ASSERT(sizeof(cef_scheme_handler_factory_t) == 24);
CEF_LAYOUT_ASSERT(offsetof(cef_scheme_handler_factory_t, create) == 20);

struct cef_resource_handler_t {
    cef_base_ref_counted_t base;
    int(CEF_CALLBACK* open)(cef_resource_handler_t* self, cef_request_t* request,
                            int* handle_request, cef_callback_t* callback);
    void* process_request;  // the older pair, left null so `open` is used
    void(CEF_CALLBACK* get_response_headers)(cef_resource_handler_t* self,
                                             cef_response_t* response, int64_t* response_length,
                                             cef_string_t* redirect_url);
    int(CEF_CALLBACK* skip)(cef_resource_handler_t* self, int64_t bytes_to_skip,
                            int64_t* bytes_skipped, cef_resource_skip_callback_t* callback);
    int(CEF_CALLBACK* read)(cef_resource_handler_t* self, void* data_out, int bytes_to_read,
                            int* bytes_read, cef_resource_read_callback_t* callback);
    void* read_response;
    void(CEF_CALLBACK* cancel)(cef_resource_handler_t* self);
};
CEF_LAYOUT_ASSERT(sizeof(cef_resource_handler_t) == 48);
CEF_LAYOUT_ASSERT(offsetof(cef_resource_handler_t, open) == 20);
CEF_LAYOUT_ASSERT(offsetof(cef_resource_handler_t, process_request) == 24);
CEF_LAYOUT_ASSERT(offsetof(cef_resource_handler_t, get_response_headers) == 28);
CEF_LAYOUT_ASSERT(offsetof(cef_resource_handler_t, skip) == 32);
CEF_LAYOUT_ASSERT(offsetof(cef_resource_handler_t, read) == 36);
CEF_LAYOUT_ASSERT(offsetof(cef_resource_handler_t, read_response) == 40);
CEF_LAYOUT_ASSERT(offsetof(cef_resource_handler_t, cancel) == 44);

}  // extern "C"
