#pragma once
// The small drawing helpers of the main window: rounded rectangles, gradients, lines and
// text. Every GDI+ object they create is released before they return; the graphics
// object's own status keeps the last failure, which nothing reports (a frame always
// completes). UI thread only.

#include "platform/gdi_handles.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace korvel {

using Gdiplus::ARGB;
using Gdiplus::GpGraphics;

// The three looks of the window's texts. Each is resolved once per frame to the first
// family of its chain that the system has, so that a system without the Windows fonts
// (older Windows, Wine, stripped installs) still shows every label.
enum class FontRole { Sans, Serif, Symbol };

class FontSet {
public:
    // Resolves the three chains; a role whose chain has no installed family stays empty
    // and its texts are not drawn.
    FontSet();
    Gdiplus::GpFontFamily* family(FontRole role) const noexcept;

private:
    UniqueGdipFontFamily sans_;
    UniqueGdipFontFamily serif_;
    UniqueGdipFontFamily symbol_;
};

// Horizontal and vertical text alignment: near 0, centre 1, far 2.
enum class Align { Near = 0, Centre = 1, Far = 2 };

// GDI+ font styles as the window uses them.
inline constexpr int style_regular = 0;
inline constexpr int style_bold = 1;
inline constexpr int style_bold_italic = 3;

// How a text uses its layout rectangle. Most texts hold one line: left to wrap, a long
// news title would spill a second line over the row below instead of ending in "...".
enum class Lines {
    One,     // no wrapping; trimmed with an ellipsis
    Fitted,  // one line; a fixed label that a wider fallback font makes too long is
             // drawn smaller (down to three quarters) rather than cut or wrapped
    Wrap,    // wraps within the rectangle (the headline texts)
};

struct TextStyle {
    FontRole role = FontRole::Sans;
    float size_px = 12;
    int style = style_regular;
    ARGB colour = 0xffffffff;
    Align horizontal = Align::Near;
    Align vertical = Align::Near;
    Lines lines = Lines::One;
};

Gdiplus::RectF to_rectf(RECT const& r) noexcept;

// A new path holding one closed rounded-rectangle figure for `r`; empty when GDI+ could
// not create it.
UniqueGdipPath rounded_path(RECT const& r, float radius) noexcept;
// A linear gradient brush from `from` to `to` (tile wrap); empty on failure.
UniqueGdipBrush gradient_brush(POINT from, POINT to, ARGB first, ARGB second) noexcept;
void fill_rounded_rect(GpGraphics* g, RECT const& r, float radius, ARGB colour) noexcept;
// `width`: the pen's width in pixels.
void draw_rounded_border(GpGraphics* g, RECT const& r, float radius, ARGB colour, float width = 1.0f) noexcept;
// Fills `area` with a linear gradient from `from` to `to` (tile wrap).
void fill_gradient(GpGraphics* g, RECT const& area, POINT from, POINT to, ARGB first, ARGB second) noexcept;
void fill_rect(GpGraphics* g, RECT const& r, ARGB colour) noexcept;
void fill_ellipse(GpGraphics* g, float x, float y, float width, float height, ARGB colour) noexcept;
void draw_line(GpGraphics* g, int x1, int y1, int x2, int y2, ARGB colour, float width = 1.0f) noexcept;
// What draw_text made of a text, for the tests that check every text has its room.
struct DrawnText {
    std::wstring shown;  // as drawn: ending in "\u2026" where it was cut
    float asked_px = 0;  // the style's size
    float drawn_px = 0;  // smaller where a Fitted label was shrunk
    bool fits = false;   // every character inside the layout rectangle
};

// Draws the text into `layout` (see Lines); a text too long for its one line ends in an
// ellipsis at a character boundary. With `report`, also says what it drew there (and
// measures once more for it). Throws only std::bad_alloc.
void draw_text(GpGraphics* g, FontSet const& fonts, std::wstring_view text, Gdiplus::RectF const& layout,
               TextStyle const& style, DrawnText* report = nullptr);

}  // namespace korvel
