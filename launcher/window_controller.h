#pragma once
// The main window's message handler. UI thread only.

#include "window/button_id.h"

#include <windows.h>

namespace korvel {

class LauncherApp;

// The one-shot timer that start-up sets and whose first tick starts the automatic check.
inline constexpr UINT_PTR k_update_timer = 1;

// What a click on `id` does, with its guards (Play only when ready, nothing but the
// links and the window buttons while a job runs); the keyboard and the screen readers'
// default action run this same code. It may destroy the window or run a modal loop.
void press_button(LauncherApp& app, HWND hwnd, ButtonId id);

// Every message of the main window after WM_NCCREATE. Unhandled ones go to DefWindowProcW.
LRESULT handle_message(LauncherApp& app, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace korvel
