#pragma once
// COM on the calling thread for the lifetime of a scope.

#include <objbase.h>

namespace korvel {

// Joins or creates the thread's apartment of `model` (COINIT_APARTMENTTHREADED or
// COINIT_MULTITHREADED) and leaves it at the end of the scope. CoUninitialize only when
// CoInitializeEx succeeded: a thread that already has an apartment of the other kind
// keeps it untouched.
class ComApartment {
public:
    explicit ComApartment(DWORD model) noexcept : initialized_(SUCCEEDED(::CoInitializeEx(nullptr, model))) {}
    ~ComApartment() {
        if (initialized_) ::CoUninitialize();
    }
    ComApartment(ComApartment const&) = delete;
    ComApartment& operator=(ComApartment const&) = delete;

private:
    bool initialized_;
};

}  // namespace korvel
