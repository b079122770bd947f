#pragma once
// The launcher's entry point behind wWinMain.

#include <windows.h>

namespace korvel {

// Chooses launch mode ("--launch-clients N": start the clients, no window) or normal mode
// (the window and its message loop) and returns the process exit code: in normal mode the
// quit code (0), or 1 when GDI+, the window class or the window cannot be set up; in launch
// mode 0, 2 or 3.
int launcher_main(HINSTANCE instance, int show_command);

}  // namespace korvel
