#pragma once
// The launcher's entry point behind wWinMain.

#include "platform/gdi_handles.h"

#include <windows.h>

namespace korvel {

class LauncherApp;

// Chooses launch mode ("--launch-clients N": start the clients, no window) or normal mode
// (the window and its message loop) and returns the process exit code: in normal mode the
// quit code (0), or 1 when GDI+, the window class or the window cannot be set up; in launch
// mode 0, 2 or 3.
int launcher_main(HINSTANCE instance, int show_command);

// Starts GDI+ into app.gdiplus_token. On failure says so in the start-up failure box
// (no owner) and returns false: normal mode then ends with code 1.
bool start_gdiplus(LauncherApp& app, Gdiplus::GdiplusStartupInput const& input);

}  // namespace korvel
