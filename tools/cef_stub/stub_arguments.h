#pragma once
// Runtime objects that reach the launcher only as callback arguments it gives
// back: the context menu's parameters and the resource handler's callbacks.
// The launcher names them without looking inside; the stand-in builds them,
// so their layouts are the runtime's own (API version 14800).
#include "launcher/browser/cef_objects.h"

extern "C" {

// The two shapes of the menu parameters' getters: a number (coordinates,
// flags and enums alike, all 4 bytes) or a text the caller frees.
typedef int(CEF_CALLBACK* MenuParamsNumber)(cef_context_menu_params_t* self);
typedef cef_string_userfree_t(CEF_CALLBACK* MenuParamsText)(cef_context_menu_params_t* self);

struct cef_context_menu_params_t {
    cef_base_ref_counted_t base;
    MenuParamsNumber get_xcoord;
    MenuParamsNumber get_ycoord;
    MenuParamsNumber get_type_flags;
    MenuParamsText get_link_url;
    MenuParamsText get_unfiltered_link_url;
    MenuParamsText get_source_url;
    MenuParamsNumber has_image_contents;
    MenuParamsText get_title_text;
    MenuParamsText get_page_url;
    MenuParamsText get_frame_url;
    MenuParamsText get_frame_charset;
    MenuParamsNumber get_media_type;
    MenuParamsNumber get_media_state_flags;
    MenuParamsText get_selection_text;
    MenuParamsText get_misspelled_word;
    int(CEF_CALLBACK* get_dictionary_suggestions)(cef_context_menu_params_t* self,
                                                  void* suggestions);  // cef_string_list_t
    MenuParamsNumber is_editable;
    MenuParamsNumber is_spell_check_enabled;
    MenuParamsNumber get_edit_state_flags;
    MenuParamsNumber is_custom_menu;
};
CEF_LAYOUT_ASSERT(sizeof(cef_context_menu_params_t) == 100);
CEF_LAYOUT_ASSERT(offsetof(cef_context_menu_params_t, get_xcoord) == 20);
CEF_LAYOUT_ASSERT(offsetof(cef_context_menu_params_t, get_link_url) == 32);
CEF_LAYOUT_ASSERT(offsetof(cef_context_menu_params_t, get_page_url) == 52);
CEF_LAYOUT_ASSERT(offsetof(cef_context_menu_params_t, get_dictionary_suggestions) == 80);
CEF_LAYOUT_ASSERT(offsetof(cef_context_menu_params_t, is_custom_menu) == 96);

struct cef_callback_t {
    cef_base_ref_counted_t base;
    void(CEF_CALLBACK* cont)(cef_callback_t* self);
    void(CEF_CALLBACK* cancel)(cef_callback_t* self);
};
CEF_LAYOUT_ASSERT(sizeof(cef_callback_t) == 28);
CEF_LAYOUT_ASSERT(offsetof(cef_callback_t, cont) == 20);
CEF_LAYOUT_ASSERT(offsetof(cef_callback_t, cancel) == 24);

struct cef_resource_skip_callback_t {
    cef_base_ref_counted_t base;
    void(CEF_CALLBACK* cont)(cef_resource_skip_callback_t* self, int64_t bytes_skipped);
};
CEF_LAYOUT_ASSERT(sizeof(cef_resource_skip_callback_t) == 24);
CEF_LAYOUT_ASSERT(offsetof(cef_resource_skip_callback_t, cont) == 20);

struct cef_resource_read_callback_t {
    cef_base_ref_counted_t base;
    void(CEF_CALLBACK* cont)(cef_resource_read_callback_t* self, int bytes_read);
};
CEF_LAYOUT_ASSERT(sizeof(cef_resource_read_callback_t) == 24);
CEF_LAYOUT_ASSERT(offsetof(cef_resource_read_callback_t, cont) == 20);

}  // extern "C"
