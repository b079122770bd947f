#include "window/render.h"

#include "window/window_state.h"

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

void paint_window(HWND hwnd, WindowState const& state) noexcept {
    PaintScope const paint(hwnd);
    UniqueGdipBitmap const frame = render_window(state);
    if (!paint.dc() || !frame) return;
    // Declared after the scope: the screen graphics goes before EndPaint releases its DC.
    UniqueGdipGraphics screen;
    Gdiplus::DllExports::GdipCreateFromHDC(paint.dc(), screen.put());
    if (screen) Gdiplus::DllExports::GdipDrawImageI(screen.get(), frame.get(), 0, 0);
}

}  // namespace korvel
