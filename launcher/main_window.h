#pragma once
// The launcher's borderless, rounded main window: 1200 x 760 design pixels, scaled to its
// monitor's DPI. UI thread only.

#include "platform/display_scale.h"

#include <windows.h>

namespace korvel {

class LauncherApp;

inline constexpr wchar_t const* k_main_window_class = L"KorvelLauncherWindow";

// Registers the window class. ERROR_SUCCESS, also when the class already exists;
// otherwise the Win32 error code.
DWORD register_main_window_class(HINSTANCE instance);

// Where a window of `size` goes in a monitor's work area (screen pixels): centred, and
// kept inside it; in an area smaller than the window its top and right edges stay inside.
POINT main_window_position(RECT const& work_area, SIZE size);

// Creates the window with `app` as its creation data, takes the DPI of its monitor into
// app.window.scale, and sizes it, places it at main_window_position of the primary monitor's
// work area and rounds its corners at that scale. Null on failure.
HWND create_main_window(LauncherApp& app);

// The window's rounded outline at `scale` (the region, and the corner preference).
void shape_main_window(HWND hwnd, DisplayScale scale);

}  // namespace korvel
