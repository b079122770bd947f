#pragma once
// The main window's picture as a function of LauncherApp: paint_window copies it to the
// screen, tests and the screenshot tool read it back. UI thread only (it reads
// LauncherApp); GDI+ must be started.

#include "platform/gdi_handles.h"

namespace korvel {

class LauncherApp;

inline constexpr int window_width = 1200;
inline constexpr int window_height = 760;

// Draws every region of the window, in order, into `graphics`.
void draw_window(LauncherApp const& app, Gdiplus::GpGraphics* graphics) noexcept;

// A fresh 1200 x 760 32 bpp premultiplied ARGB bitmap holding one frame; empty when
// GDI+ could not create the bitmap.
UniqueGdipBitmap render_window(LauncherApp const& app) noexcept;

}  // namespace korvel
