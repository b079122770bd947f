#include "launcher/window_controller.h"

#include "launcher/launcher_app.h"

namespace korvel {

// So far the window only needs to close cleanly: WM_CLOSE reaches DefWindowProcW, which
// destroys the window, and the destruction ends the message loop. Painting, the buttons,
// the update timer and the worker messages are handled here as they are built.
LRESULT handle_message(LauncherApp&, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(hwnd, message, wparam, lparam);
    }
}

}  // namespace korvel
