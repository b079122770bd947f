#pragma once
// The main window's picture as a function of its state: paint_window copies it to the
// screen, tests and the screenshot tool read it back. UI thread only (it reads the
// state); GDI+ must be started.

#include "platform/gdi_handles.h"
#include "window/draw_primitives.h"

#include <windows.h>

#include <vector>

namespace korvel {

struct WindowState;

// Draws every region of the window, in order, into `graphics`; with `texts`, also adds
// what became of each text (in drawing order) there.
void draw_window(WindowState const& state, Gdiplus::GpGraphics* graphics,
                 std::vector<DrawnText>* texts = nullptr) noexcept;

// A fresh 32 bpp premultiplied ARGB bitmap of the window's size at state.scale (1200 x
// 760 at 100 %) holding one frame; empty when GDI+ could not create the bitmap.
UniqueGdipBitmap render_window(WindowState const& state, std::vector<DrawnText>* texts = nullptr) noexcept;

// WM_PAINT: draws one frame off-screen and copies it to `hwnd` in one operation, so the
// window never shows a half-drawn picture.
void paint_window(HWND hwnd, WindowState const& state) noexcept;

}  // namespace korvel
