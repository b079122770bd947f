#pragma once
// The main window's picture as a function of its state: paint_window copies it to the
// screen, tests and the screenshot tool read it back. UI thread only (it reads the
// state); GDI+ must be started.

#include "platform/gdi_handles.h"

#include <windows.h>

namespace korvel {

struct WindowState;

// Draws every region of the window, in order, into `graphics`.
void draw_window(WindowState const& state, Gdiplus::GpGraphics* graphics) noexcept;

// A fresh 32 bpp premultiplied ARGB bitmap of the window's size at state.scale (1200 x
// 760 at 100 %) holding one frame; empty when GDI+ could not create the bitmap.
UniqueGdipBitmap render_window(WindowState const& state) noexcept;

// WM_PAINT: draws one frame off-screen and copies it to `hwnd` in one operation, so the
// window never shows a half-drawn picture.
void paint_window(HWND hwnd, WindowState const& state) noexcept;

}  // namespace korvel
