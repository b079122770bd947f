#pragma once
// One move-only owner for every kind of Windows handle. Each alias names the handle
// type, what counts as "no handle" for it and the call that releases it, so that a
// handle is closed exactly once on every path, exceptions included.

#include <windows.h>

#include <utility>

namespace korvel {

template <typename Handle, typename Traits>
class UniqueHandle {
public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle h) noexcept : handle_(h) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(UniqueHandle const&) = delete;
    UniqueHandle& operator=(UniqueHandle const&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return Traits::valid(handle_); }

    // Gives up ownership without closing.
    Handle release() noexcept { return std::exchange(handle_, Traits::invalid()); }

    void reset(Handle h = Traits::invalid()) noexcept {
        Handle old = std::exchange(handle_, h);
        if (Traits::valid(old)) Traits::close(old);
    }

    // For out-parameters of creating calls; closes what was held before.
    Handle* put() noexcept {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = Traits::invalid();
};

// Traits for handles whose only "no handle" value is null.
template <typename Handle, auto Close>
struct NullIsInvalid {
    static constexpr Handle invalid() noexcept { return nullptr; }
    static bool valid(Handle h) noexcept { return h != nullptr; }
    static void close(Handle h) noexcept { Close(h); }
};

// CreateFileW and friends fail with INVALID_HANDLE_VALUE, other calls with null:
// a file handle treats both as empty.
struct FileHandleTraits {
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { ::CloseHandle(h); }
};

inline void close_kernel_handle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void free_local(HLOCAL p) noexcept { ::LocalFree(p); }

using UniqueFile = UniqueHandle<HANDLE, FileHandleTraits>;
// Process, thread and event handles: null is the only failure value.
using UniqueKernelHandle = UniqueHandle<HANDLE, NullIsInvalid<HANDLE, close_kernel_handle>>;
using UniqueLocalMemory = UniqueHandle<HLOCAL, NullIsInvalid<HLOCAL, free_local>>;

}  // namespace korvel
