#include "launcher/launcher_app.h"
#include "window/render.h"

namespace korvel {

namespace {

// BeginPaint and EndPaint come in pairs; EndPaint also validates the window, so that
// WM_PAINT is not sent again at once even when nothing could be drawn.
class PaintScope {
public:
    explicit PaintScope(HWND hwnd) noexcept : hwnd_(hwnd), hdc_(::BeginPaint(hwnd, &paint_)) {}
    ~PaintScope() { ::EndPaint(hwnd_, &paint_); }
    PaintScope(PaintScope const&) = delete;
    PaintScope& operator=(PaintScope const&) = delete;
    HDC dc() const noexcept { return hdc_; }

private:
    HWND hwnd_;
    PAINTSTRUCT paint_{};
    HDC hdc_;
};

}  // namespace

// The frame is drawn off-screen and copied in one operation, so the window never shows
// a half-drawn picture.
void LauncherApp::paint_window() {
    PaintScope const paint(hwnd);
    UniqueGdipBitmap const frame = render_window(*this);
    if (!paint.dc() || !frame) return;
    // Declared after the scope: the screen graphics goes before EndPaint releases its DC.
    UniqueGdipGraphics screen;
    Gdiplus::DllExports::GdipCreateFromHDC(paint.dc(), screen.put());
    if (screen) Gdiplus::DllExports::GdipDrawImageI(screen.get(), frame.get(), 0, 0);
}

}  // namespace korvel
