#pragma once
// The display scale of a window: its monitor's DPI, and the one mapping from the design
// pixels that layouts are written in (96 DPI, 100 %) to device pixels at that DPI.
// Every size a window draws or hit-tests goes through DisplayScale::px, so that drawing
// and hit-testing always agree to the pixel.

#include <windows.h>

namespace korvel {

inline constexpr UINT k_design_dpi = 96;

struct DisplayScale {
    UINT dpi = k_design_dpi;

    // Lengths and coordinates, rounded to whole device pixels (halves away from zero):
    // edges land on pixel boundaries, so borders and fills stay sharp at 125 % and 150 %.
    int px(int design) const noexcept { return ::MulDiv(design, static_cast<int>(dpi), k_design_dpi); }
    // Each edge on its own, so that rectangles sharing an edge still share it.
    LONG px(LONG design) const noexcept { return px(static_cast<int>(design)); }
    RECT px(RECT const& r) const noexcept { return {px(r.left), px(r.top), px(r.right), px(r.bottom)}; }
    // Font sizes and radii, unrounded.
    float px(float design) const noexcept { return design * static_cast<float>(dpi) / k_design_dpi; }
    // A pen of `design` pixels: whole device pixels, at least one, so a line stays crisp.
    float pen(int design) const noexcept { return static_cast<float>(px(design) > 0 ? px(design) : 1); }

    bool operator==(DisplayScale const&) const = default;
};

// The DPI of the monitor `hwnd` is on (GetDpiForWindow, Windows 10 1607 and later); where
// that call is missing, the system DPI. Never 0.
UINT window_dpi(HWND hwnd) noexcept;

}  // namespace korvel
