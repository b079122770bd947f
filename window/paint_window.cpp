#include "launcher/launcher_app.h"

namespace korvel {

void LauncherApp::paint_window() {
    // Not built yet: validates the window so that WM_PAINT is not sent again at once.
    PAINTSTRUCT paint{};
    ::BeginPaint(hwnd, &paint);
    ::FillRect(paint.hdc, &paint.rcPaint, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    ::EndPaint(hwnd, &paint);
}

}  // namespace korvel
