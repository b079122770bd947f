#pragma once
// The main window's message handler. UI thread only.

#include "window/button_id.h"

#include <windows.h>

namespace korvel {

class LauncherApp;

// The one-shot timer that start-up sets and whose first tick starts the automatic check.
inline constexpr UINT_PTR k_update_timer = 1;

// Every message of the main window after WM_NCCREATE. Unhandled ones go to DefWindowProcW.
LRESULT handle_message(LauncherApp& app, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// The active area under a point in client pixels: the buttons in a fixed order, then the
// news rows that have an item; None elsewhere. Left and top edges belong to a rectangle,
// right and bottom edges do not.
ButtonId hit_test(LauncherApp const& app, POINT point);

}  // namespace korvel
