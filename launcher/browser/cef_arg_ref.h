#pragma once
// The runtime hands every ref-counted argument of a callback to the callee
// with one reference that the callee owns. CefArgRef gives it back when the
// callback's scope ends, on every way out, early returns included.
#include "launcher/browser/cef_objects.h"

template <typename T>
class CefArgRef {
public:
    explicit CefArgRef(T* object) : object_(object) {}
    ~CefArgRef() {
        // Every ref-counted structure begins with its base, also those the
        // launcher declares only by name (callbacks, menu parameters).
        if (object_) {
            auto* base = reinterpret_cast<cef_base_ref_counted_t*>(object_);
            base->release(base);
        }
    }
    CefArgRef(const CefArgRef&) = delete;
    CefArgRef& operator=(const CefArgRef&) = delete;

    // Keeps the reference beyond the callback: the caller owns it now.
    T* keep() {
        T* object = object_;
        object_ = nullptr;
        return object;
    }

private:
    T* object_;
};
