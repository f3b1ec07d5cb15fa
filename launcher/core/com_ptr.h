#pragma once
// Owner for one COM interface reference, so that every path out of a scope
// releases what CoCreateInstance and friends handed out.
#include <windows.h>

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For the creating call to fill; releases what was held before.
    T** out() {
        reset();
        return &p_;
    }
    // The same, typed as the void** that CoCreateInstance and QueryInterface take.
    void** out_void() { return reinterpret_cast<void**>(out()); }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};
