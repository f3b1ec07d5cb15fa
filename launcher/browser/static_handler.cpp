#include "static_handler.h"

namespace {

void CEF_CALLBACK static_add_ref(cef_base_ref_counted_t*) {}
int CEF_CALLBACK static_release(cef_base_ref_counted_t*) { return 0; }
int CEF_CALLBACK static_has_one_ref(cef_base_ref_counted_t*) { return 1; }
int CEF_CALLBACK static_has_at_least_one_ref(cef_base_ref_counted_t*) { return 1; }

}  // namespace

void set_static_handler_base(cef_base_ref_counted_t& base, size_t size) {
    base.size = size;
    base.add_ref = static_add_ref;
    base.release = static_release;
    base.has_one_ref = static_has_one_ref;
    base.has_at_least_one_ref = static_has_at_least_one_ref;
}
