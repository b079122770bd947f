#pragma once
// The launcher's borderless, rounded 1200 x 760 main window. UI thread only.

#include <windows.h>

namespace korvel {

class LauncherApp;

inline constexpr wchar_t const* k_main_window_class = L"KorvelLauncherWindow";

// Registers the window class. ERROR_SUCCESS, also when the class already exists;
// otherwise the Win32 error code.
DWORD register_main_window_class(HINSTANCE instance);

// Where the window goes in a monitor's work area (screen pixels): centred, and kept
// inside it; in an area smaller than the window its top and right edges stay inside.
POINT main_window_position(RECT const& work_area);

// Creates the window at main_window_position of the primary monitor's work area, with
// `app` as its creation data, and gives it rounded corners. Null on failure.
HWND create_main_window(LauncherApp& app);

}  // namespace korvel
