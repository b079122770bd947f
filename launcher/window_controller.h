#pragma once
// The main window's message handler. UI thread only.

#include <windows.h>

namespace korvel {

class LauncherApp;

// The one-shot timer that start-up sets and whose first tick starts the automatic check.
inline constexpr UINT_PTR k_update_timer = 1;

// Every message of the main window after WM_NCCREATE. Unhandled ones go to DefWindowProcW.
LRESULT handle_message(LauncherApp& app, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace korvel
