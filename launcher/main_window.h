#pragma once
// The launcher's borderless, rounded main window: 1200 x 760 design pixels, scaled to its
// monitor's DPI, or smaller where that does not fit the monitor (window_placement.h).
// UI thread only.

#include "platform/display_scale.h"

#include <windows.h>

namespace korvel {

class LauncherApp;

inline constexpr wchar_t const* k_main_window_class = L"KorvelLauncherWindow";

// Registers the window class. ERROR_SUCCESS, also when the class already exists;
// otherwise the Win32 error code.
DWORD register_main_window_class(HINSTANCE instance);

// Creates the window with `app` as its creation data on the monitor under the mouse
// pointer (where the player just started the launcher; the primary one without a pointer)
// and fits it there, centred. Null on failure.
HWND create_main_window(LauncherApp& app);

// Fits the window to the monitor that `frame` lies mostly on, whose DPI is `monitor_dpi`:
// the scale place_window answers goes into app.window.scale, the window takes its size
// and place (centred when `centre`, else from frame's top-left kept inside the work area)
// and its outline; a changed scale decodes the banner again. Repaints it all.
void fit_main_window(LauncherApp& app, HWND hwnd, UINT monitor_dpi, RECT const& frame, bool centre);

// The window's rounded outline at `scale` (the region, and the corner preference).
void shape_main_window(HWND hwnd, DisplayScale scale);

}  // namespace korvel
