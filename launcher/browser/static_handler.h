#pragma once
// The reference counting of the handler objects that live for the whole
// process in static storage: nothing to count, nothing to free.
#include "cef_objects.h"

// Sets the structure size and the four do-nothing reference functions.
void set_static_handler_base(cef_base_ref_counted_t& base, size_t size);
