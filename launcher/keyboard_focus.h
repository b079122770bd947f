#pragma once
// The main window's keyboard: Tab and Shift+Tab walk the focus over the items that can
// take it (window/accessible_items.h), Enter and Space press the focused one exactly as a
// click does, the arrows move inside the news rows and the client count, and Escape asks
// to close (the close question while a job runs). UI thread only.

#include <windows.h>

namespace korvel {

class LauncherApp;

// WM_KEYDOWN. The first key press shows the focus ring, as the system's keyboard cues
// appear once the keyboard is used. May destroy the window (Play, Escape's close).
void on_key_down(LauncherApp& app, HWND hwnd, WPARAM key);

}  // namespace korvel
