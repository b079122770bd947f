#pragma once
// How a worker hands a heap record to the main window: the record travels in the
// message's last parameter and belongs to the window once the post succeeded. Any
// thread.

#include <windows.h>

#include <memory>

namespace korvel {

// Posts `record` to `hwnd`; when the window is gone or the post fails (a full queue) the
// record is freed here, so nothing leaks and nothing reaches a window that went away.
template <typename Record>
void post_record(HWND hwnd, UINT message, std::unique_ptr<Record> record) noexcept {
    if (!record || !::IsWindow(hwnd)) return;
    if (::PostMessageW(hwnd, message, 0, reinterpret_cast<LPARAM>(record.get()))) (void)record.release();
}

}  // namespace korvel
