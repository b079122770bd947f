#include "window/draw_primitives.h"

#include "window/text_cut.h"

#include <initializer_list>
#include <string>

namespace korvel {

namespace gp = Gdiplus::DllExports;

namespace {

UniqueGdipFontFamily first_installed(std::initializer_list<wchar_t const*> names) noexcept {
    UniqueGdipFontFamily family;
    for (wchar_t const* name : names) {
        // A null collection means the installed fonts; a missing name fails here.
        if (gp::GdipCreateFontFamilyFromName(name, nullptr, family.put()) == Gdiplus::Ok && family) break;
    }
    return family;
}

UniqueGdipBrush solid_brush(ARGB colour) noexcept {
    Gdiplus::GpSolidFill* brush = nullptr;
    gp::GdipCreateSolidFill(colour, &brush);
    return UniqueGdipBrush(brush);
}

// One closed rounded-rectangle figure appended to `path`.
void add_rounded_rect(Gdiplus::GpPath* path, Gdiplus::RectF const& r, float radius) noexcept {
    float const d = 2 * radius;
    gp::GdipAddPathArc(path, r.X, r.Y, d, d, 180, 90);
    gp::GdipAddPathArc(path, r.X + r.Width - d, r.Y, d, d, 270, 90);
    gp::GdipAddPathArc(path, r.X + r.Width - d, r.Y + r.Height - d, d, d, 0, 90);
    gp::GdipAddPathArc(path, r.X, r.Y + r.Height - d, d, d, 90, 90);
    gp::GdipClosePathFigure(path);
}

}  // namespace

// The Windows family first; then those Wine ships or borrows from the host.
FontSet::FontSet()
    : sans_(first_installed({L"Segoe UI", L"Tahoma", L"Liberation Sans", L"DejaVu Sans"})),
      serif_(first_installed({L"Georgia", L"Liberation Serif", L"DejaVu Serif"})),
      symbol_(first_installed({L"Segoe UI Symbol", L"DejaVu Sans"})) {}

Gdiplus::GpFontFamily* FontSet::family(FontRole role) const noexcept {
    switch (role) {
    case FontRole::Serif:
        return serif_.get();
    case FontRole::Symbol:
        return symbol_.get();
    case FontRole::Sans:
        break;
    }
    return sans_.get();
}

Gdiplus::RectF to_rectf(RECT const& r) noexcept {
    return Gdiplus::RectF(static_cast<float>(r.left), static_cast<float>(r.top), static_cast<float>(r.right - r.left),
                          static_cast<float>(r.bottom - r.top));
}

UniqueGdipPath rounded_path(RECT const& r, float radius) noexcept {
    UniqueGdipPath path;
    gp::GdipCreatePath(Gdiplus::FillModeAlternate, path.put());
    if (path) add_rounded_rect(path.get(), to_rectf(r), radius);
    return path;
}

UniqueGdipBrush gradient_brush(POINT from, POINT to, ARGB first, ARGB second) noexcept {
    Gdiplus::Point const start(from.x, from.y);
    Gdiplus::Point const end(to.x, to.y);
    Gdiplus::GpLineGradient* gradient = nullptr;
    gp::GdipCreateLineBrushI(&start, &end, first, second, Gdiplus::WrapModeTile, &gradient);
    return UniqueGdipBrush(gradient);
}

void fill_rounded_rect(GpGraphics* g, RECT const& r, float radius, ARGB colour) noexcept {
    UniqueGdipPath const path = rounded_path(r, radius);
    UniqueGdipBrush const brush = solid_brush(colour);
    if (path && brush) gp::GdipFillPath(g, brush.get(), path.get());
}

void draw_rounded_border(GpGraphics* g, RECT const& r, float radius, ARGB colour, float width) noexcept {
    UniqueGdipPath const path = rounded_path(r, radius);
    UniqueGdipPen pen;
    gp::GdipCreatePen1(colour, width, Gdiplus::UnitWorld, pen.put());
    if (path && pen) gp::GdipDrawPath(g, pen.get(), path.get());
}

void fill_gradient(GpGraphics* g, RECT const& area, POINT from, POINT to, ARGB first, ARGB second) noexcept {
    UniqueGdipBrush const brush = gradient_brush(from, to, first, second);
    if (brush)
        gp::GdipFillRectangleI(g, brush.get(), area.left, area.top, area.right - area.left, area.bottom - area.top);
}

void fill_rect(GpGraphics* g, RECT const& r, ARGB colour) noexcept {
    UniqueGdipBrush const brush = solid_brush(colour);
    if (brush) gp::GdipFillRectangleI(g, brush.get(), r.left, r.top, r.right - r.left, r.bottom - r.top);
}

void fill_ellipse(GpGraphics* g, float x, float y, float width, float height, ARGB colour) noexcept {
    UniqueGdipBrush const brush = solid_brush(colour);
    if (brush) gp::GdipFillEllipse(g, brush.get(), x, y, width, height);
}

void draw_line(GpGraphics* g, int x1, int y1, int x2, int y2, ARGB colour, float width) noexcept {
    UniqueGdipPen pen;
    gp::GdipCreatePen1(colour, width, Gdiplus::UnitWorld, pen.put());
    if (pen) gp::GdipDrawLineI(g, pen.get(), x1, y1, x2, y2);
}

void draw_text(GpGraphics* g, FontSet const& fonts, std::wstring_view text, Gdiplus::RectF const& layout,
               TextStyle const& style, DrawnText* report) {
    Gdiplus::GpFontFamily* const family = fonts.family(style.role);
    if (!family || text.empty()) return;
    UniqueGdipBrush const brush = solid_brush(style.colour);
    UniqueGdipStringFormat format;
    gp::GdipCreateStringFormat(style.lines == Lines::Wrap ? 0 : Gdiplus::StringFormatFlagsNoWrap, LANG_NEUTRAL,
                               format.put());
    if (!brush || !format) return;
    gp::GdipSetStringFormatAlign(format.get(), static_cast<Gdiplus::StringAlignment>(style.horizontal));
    gp::GdipSetStringFormatLineAlign(format.get(), static_cast<Gdiplus::StringAlignment>(style.vertical));
    gp::GdipSetStringFormatTrimming(format.get(), Gdiplus::StringTrimmingEllipsisCharacter);

    auto width_of = [&](std::wstring_view s, Gdiplus::GpFont* font) {
        Gdiplus::RectF const unbounded(0, 0, 100000, layout.Height);
        Gdiplus::RectF needed;
        if (gp::GdipMeasureString(g, s.data(), static_cast<INT>(s.size()), font, &unbounded, format.get(), &needed,
                                  nullptr, nullptr) != Gdiplus::Ok)
            return 0.0f;
        return needed.Width;
    };
    UniqueGdipFont font;
    float size = style.size_px;
    for (;;) {
        gp::GdipCreateFont(family, size, style.style, Gdiplus::UnitPixel, font.put());
        if (!font || style.lines != Lines::Fitted || size <= style.size_px * 0.75f ||
            width_of(text, font.get()) <= layout.Width)
            break;
        size -= 0.5f;
    }
    if (!font) return;

    // The ellipsis is placed here rather than left to the trimming mode, which not every
    // GDI+ implementation honours for unwrapped text: the longest prefix, cut where a
    // character ends, that fits with "..." after it.
    std::wstring shown(text);
    if (style.lines != Lines::Wrap && width_of(text, font.get()) > layout.Width) {
        std::size_t const fits = longest_fitting_prefix(text, [&](std::wstring_view prefix) {
            return width_of(std::wstring(prefix) + L"\u2026", font.get()) <= layout.Width;
        });
        shown = std::wstring(text.substr(0, fits)) + L"\u2026";
    }
    gp::GdipDrawString(g, shown.c_str(), static_cast<INT>(shown.size()), font.get(), &layout, format.get(),
                       brush.get());
    if (report) {
        // Measured without the rectangle's limits (a wrapped text keeps its width), so
        // that a text larger than its place shows as such.
        Gdiplus::RectF const open(0, 0, style.lines == Lines::Wrap ? layout.Width : 100000, 100000);
        Gdiplus::RectF needed;
        bool const measured = gp::GdipMeasureString(g, shown.c_str(), static_cast<INT>(shown.size()), font.get(),
                                                    &open, format.get(), &needed, nullptr, nullptr) == Gdiplus::Ok;
        // Half a pixel for the measurement's rounding.
        *report = {shown, style.size_px, size,
                   measured && needed.Width <= layout.Width + 0.5f && needed.Height <= layout.Height + 0.5f};
    }
}

}  // namespace korvel
