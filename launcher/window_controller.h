#pragma once
// The main window's message handler. UI thread only.

#include <windows.h>

namespace korvel {

class LauncherApp;

// Every message of the main window after WM_NCCREATE. Unhandled ones go to DefWindowProcW.
LRESULT handle_message(LauncherApp& app, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace korvel
