#include "window/render.h"

#include "core/patch_progress.h"
#include "window/accessible_items.h"
#include "window/draw_primitives.h"
#include "window/layout.h"
#include "window/progress_text.h"
#include "window/window_state.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace korvel {

namespace gp = Gdiplus::DllExports;

namespace {

using Gdiplus::RectF;

struct ButtonLook {
    ARGB fill;
    ARGB border;
    ARGB label;
};

constexpr ButtonLook neutral_look{0xff161925, 0xff33394f, 0xfff4f2ec};
constexpr ButtonLook neutral_hover_look{0xff1f2332, 0xff576080, 0xfff4f2ec};
constexpr ButtonLook gold_look{0xff744d20, 0xffca9241, 0xfff4f2ec};
constexpr ButtonLook gold_hover_look{0xff916027, 0xffe7ae57, 0xfff4f2ec};
constexpr ButtonLook disabled_look{0xff1b1c22, 0xff2b2c35, 0xff70737d};
constexpr ARGB focus_ring_colour = 0xfff4f2ec;

// Gold: Play's own look; Chosen: the chosen client count, gold as well outside a contrast
// theme; Link: a neutral button outside one.
enum class Tone { Neutral, Gold, Chosen, Link };

ARGB opaque(COLORREF c) {
    return 0xff000000u | (static_cast<ARGB>(GetRValue(c)) << 16) | (static_cast<ARGB>(GetGValue(c)) << 8) | GetBValue(c);
}

// Everything a region needs: the state, the target and this frame's fonts. The regions
// place things in design pixels (window/layout.h); the frame maps every rectangle, box,
// radius, pen and font size to device pixels with the state's scale, the same mapping
// the controller hit-tests with. Texts are laid out at their device size, not drawn
// small and stretched, so they stay crisp at any scale.
struct Frame {
    WindowState const& state;
    GpGraphics* g;
    FontSet const& fonts;

    RECT px(RECT const& r) const { return state.scale.px(r); }
    float px(float length) const { return state.scale.px(length); }
    // `normal`, or in a contrast theme the system colour COLOR_`index` of its pairs.
    ARGB ink(ARGB normal, int index) const { return state.contrast ? opaque((*state.contrast)[index]) : normal; }
    float pen() const { return state.scale.pen(1); }
    // A text box's edges rounded as a rectangle's are.
    RectF px(layout::TextBox const& b) const {
        auto const edge = [&](float v) { return std::round(px(v)); };
        float const left = edge(b.x), top = edge(b.y);
        return RectF{left, top, edge(b.x + b.width) - left, edge(b.y + b.height) - top};
    }

    void text(std::wstring_view s, RectF const& device_layout, TextStyle style) const {
        style.size_px = px(style.size_px);
        draw_text(g, fonts, s, device_layout, style);
    }
    void text(std::wstring_view s, layout::TextBox const& b, TextStyle const& style) const { text(s, px(b), style); }
    void text(std::wstring_view s, RECT const& r, TextStyle const& style) const { text(s, to_rectf(px(r)), style); }

    void fill_rounded(RECT const& r, float radius, ARGB colour) const {
        fill_rounded_rect(g, px(r), px(radius), colour);
    }
    void border_rounded(RECT const& r, float radius, ARGB colour) const {
        draw_rounded_border(g, px(r), px(radius), colour, pen());
    }
    void line(int x1, int y1, int x2, int y2, ARGB colour) const {
        draw_line(g, state.scale.px(x1), state.scale.px(y1), state.scale.px(x2), state.scale.px(y2), colour, pen());
    }
};

TextStyle sans(float size, int style, ARGB colour, Align horizontal = Align::Near,
               Align vertical = Align::Near) {
    return {FontRole::Sans, size, style, colour, horizontal, vertical};
}

ButtonLook look_of(bool enabled, bool hovered, Tone tone) {
    if (!enabled) return disabled_look;
    if (tone == Tone::Gold || tone == Tone::Chosen) return hovered ? gold_hover_look : gold_look;
    return hovered ? neutral_hover_look : neutral_look;
}

// In a contrast theme: button face and text, the highlight pair under the mouse and for
// the chosen count, grey text when disabled, a link's colour on the window's.
ButtonLook contrast_look_of(SystemColours const& c, bool enabled, bool hovered, Tone tone) {
    auto const look = [&](int fill, int border, int label) {
        return ButtonLook{opaque(c[fill]), opaque(c[border]), opaque(c[label])};
    };
    if (!enabled) return look(COLOR_BTNFACE, COLOR_GRAYTEXT, COLOR_GRAYTEXT);
    if (hovered || tone == Tone::Chosen) return look(COLOR_HIGHLIGHT, COLOR_BTNTEXT, COLOR_HIGHLIGHTTEXT);
    if (tone == Tone::Link) return look(COLOR_WINDOW, COLOR_HOTLIGHT, COLOR_HOTLIGHT);
    return look(COLOR_BTNFACE, COLOR_BTNTEXT, COLOR_BTNTEXT);
}

// A disabled button never looks hovered. In a contrast theme the chosen count also has a
// border three pixels wide, so it is told by its shape as well as by its colours.
void draw_button(Frame const& f, RECT const& r, std::wstring_view label, ButtonId id, bool enabled, Tone tone) {
    bool const hovered = enabled && f.state.hover_id == id;
    ButtonLook const look = f.state.contrast ? contrast_look_of(*f.state.contrast, enabled, hovered, tone)
                                             : look_of(enabled, hovered, tone);
    f.fill_rounded(r, 9, look.fill);
    if (f.state.contrast && tone == Tone::Chosen)
        draw_rounded_border(f.g, f.px(RECT{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}), f.px(8.0f), look.border,
                            f.state.scale.pen(3));
    else
        f.border_rounded(r, 9, look.border);
    TextStyle style = sans(14, style_bold, look.label, Align::Centre, Align::Centre);
    style.lines = Lines::Fitted;
    f.text(label, r, style);
}

void draw_background(Frame const& f) {
    RECT const all = f.px(RECT{0, 0, layout::window_width, layout::window_height});
    if (f.state.contrast) fill_rect(f.g, all, f.ink(0, COLOR_WINDOW));
    else fill_gradient(f.g, all, {0, 0}, {0, all.bottom}, 0xff080a11, 0xff0d0e18);
}

void draw_header(Frame const& f) {
    f.text(f.state.logo_text, layout::text::logo, {FontRole::Serif, 28, style_bold_italic, f.ink(0xffd2a55b, COLOR_WINDOWTEXT)});
    f.text(f.state.subtitle, layout::text::subtitle, sans(11, style_regular, f.ink(0xff7c8297, COLOR_WINDOWTEXT)));
    RECT const rule = layout::header_rule;
    f.line(rule.left, rule.top, rule.right, rule.bottom, f.ink(0xff282c3d, COLOR_WINDOWTEXT));
}

void draw_title_button(Frame const& f, RECT const& r, float radius, ARGB fill, ARGB hover_fill, ButtonId id,
                       std::wstring_view glyph, FontRole role, float size, ARGB glyph_colour) {
    bool const hovered = f.state.hover_id == id;
    f.fill_rounded(r, radius, hovered ? f.ink(hover_fill, COLOR_HIGHLIGHT) : f.ink(fill, COLOR_BTNFACE));
    if (f.state.contrast) f.border_rounded(r, radius, f.ink(0, COLOR_BTNTEXT));
    ARGB const ink = hovered ? f.ink(glyph_colour, COLOR_HIGHLIGHTTEXT) : f.ink(glyph_colour, COLOR_BTNTEXT);
    f.text(glyph, r, {role, size, style_regular, ink, Align::Centre, Align::Centre});
}

void draw_title_buttons(Frame const& f) {
    draw_title_button(f, layout::settings, 9, 0xff11141e, 0xff1f2332, ButtonId::Settings, L"\u2699",
                      FontRole::Symbol, 20, 0xffd2d6e2);
    draw_title_button(f, layout::minimize, 8, 0xff0d0f17, 0xff1f2332, ButtonId::Minimize, L"\u2212",
                      FontRole::Sans, 18, 0xffd2d6e2);
    draw_title_button(f, layout::close, 8, 0xff0d0f17, 0xff912d3a, ButtonId::Close, L"\u00d7", FontRole::Sans,
                      20, 0xffe6e8f0);
}

// The picture covers the whole area, centred; the rounded clip cuts the overflow equally.
// A contrast theme shows no picture: the headline stands on the window's own colour.
void draw_banner(Frame const& f) {
    RECT const r = f.px(layout::banner);
    if (f.state.contrast) {
        f.fill_rounded(layout::banner, 12, f.ink(0, COLOR_WINDOW));
        f.border_rounded(layout::banner, 12, f.ink(0, COLOR_WINDOWTEXT));
        return;
    }
    UniqueGdipPath const clip = rounded_path(r, f.px(12.0f));
    if (clip) gp::GdipSetClipPath(f.g, clip.get(), Gdiplus::CombineModeReplace);
    UINT iw = 0, ih = 0;
    if (f.state.banner_bitmap) {
        gp::GdipGetImageWidth(f.state.banner_bitmap.get(), &iw);
        gp::GdipGetImageHeight(f.state.banner_bitmap.get(), &ih);
    }
    if (iw != 0 && ih != 0) {
        float const w = static_cast<float>(r.right - r.left);
        float const h = static_cast<float>(r.bottom - r.top);
        float const s = std::max(w / static_cast<float>(iw), h / static_cast<float>(ih));
        float const dw = static_cast<float>(iw) * s;
        float const dh = static_cast<float>(ih) * s;
        gp::GdipDrawImageRect(f.g, f.state.banner_bitmap.get(), static_cast<float>(r.left) + (w - dw) / 2,
                              static_cast<float>(r.top) + (h - dh) / 2, dw, dh);
    } else {
        fill_gradient(f.g, r, {r.left, r.top}, {r.right, r.bottom}, 0xff182746, 0xff372342);
    }
    fill_gradient(f.g, r, {r.left, r.top}, {r.right, r.top}, 0xeb05080e, 0x2305080e);
    gp::GdipResetClip(f.g);
    f.border_rounded(layout::banner, 12, 0xff303549);
}

void draw_hero(Frame const& f) {
    RECT const badge = layout::hero_badge;
    f.fill_rounded(badge, 15, f.ink(0xdc231c15, COLOR_WINDOW));
    f.border_rounded(badge, 15, f.ink(0xffb4823e, COLOR_WINDOWTEXT));
    f.text(L"KORVEL2 ONLINE", badge, sans(11, style_bold, f.ink(0xffe8b863, COLOR_WINDOWTEXT), Align::Centre, Align::Centre));

    TextStyle title = sans(35, style_bold, f.ink(0xfffaf9f5, COLOR_WINDOWTEXT));
    TextStyle subtitle = sans(16, style_regular, f.ink(0xffd7dbe7, COLOR_WINDOWTEXT));
    title.lines = subtitle.lines = Lines::Wrap;
    f.text(f.state.hero_title, layout::text::hero_title, title);
    f.text(f.state.hero_subtitle, layout::text::hero_subtitle, subtitle);

    struct Pill {
        RECT r;
        wchar_t const* label;
        ARGB colour;
    };
    static constexpr std::array<Pill, 3> pills{{
        {layout::hero_pills[0], L"ÚJ TARTALMAK", 0xffcbaf7e},
        {layout::hero_pills[1], L"AKTÍV KÖZÖSSÉG", 0xffd5d8e3},
        {layout::hero_pills[2], L"KALANDRA KÉSZ", 0xffd5d8e3},
    }};
    for (Pill const& p : pills) {
        f.fill_rounded(p.r, 17, f.ink(0xdc0d111b, COLOR_WINDOW));
        f.border_rounded(p.r, 17, f.ink(0xff40465f, COLOR_WINDOWTEXT));
    }
    for (Pill const& p : pills) {
        TextStyle style = sans(12, style_bold, f.ink(p.colour, COLOR_WINDOWTEXT), Align::Centre, Align::Centre);
        style.lines = Lines::Fitted;
        f.text(p.label, p.r, style);
    }
}

void draw_card(Frame const& f, RECT const& r) {
    f.fill_rounded(r, 12, f.ink(0xff10121c, COLOR_WINDOW));
    f.border_rounded(r, 12, f.ink(0xff2b2f42, COLOR_WINDOWTEXT));
}

void draw_news(Frame const& f) {
    draw_card(f, layout::news_card);
    f.text(L"Hírek & Események", layout::text::news_heading, sans(16, style_bold, f.ink(0xffdda44d, COLOR_WINDOWTEXT)));
    f.text(L"Friss információk", layout::text::news_note,
           sans(11, style_regular, f.ink(0xff777c8f, COLOR_WINDOWTEXT), Align::Far));

    // The badge colour follows the row, not the tag text.
    static constexpr std::array<ARGB, 4> badge_colours{0xff467cbe, 0xff41965f, 0xff6752ad, 0xff6752ad};
    std::size_t const rows = std::min(layout::news_rows.size(), f.state.news_items.size());
    for (std::size_t i = 0; i < rows; ++i) {
        RECT const& r = layout::news_rows[i];
        NewsItem const& n = f.state.news_items[i];
        bool const hovered =
            static_cast<std::size_t>(f.state.hover_id) == static_cast<std::size_t>(ButtonId::NewsItem0) + i;
        if (hovered) f.fill_rounded(r, 6, f.ink(0xff191c29, COLOR_HIGHLIGHT));
        // On the highlight a contrast theme's texts take its pair; the tag keeps its badge.
        int const text_ink = hovered ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT;
        RECT const badge = layout::news_badge;
        RECT const badge_rect{r.left + badge.left, r.top + badge.top, r.left + badge.right, r.top + badge.bottom};
        f.fill_rounded(badge_rect, 5, f.ink(badge_colours[std::min<std::size_t>(i, badge_colours.size() - 1)], COLOR_BTNFACE));
        if (f.state.contrast) f.border_rounded(badge_rect, 5, f.ink(0, COLOR_BTNTEXT));
        float const x = static_cast<float>(r.left);
        float const y = static_cast<float>(r.top);
        auto const in_row = [](float left, float top, layout::TextBox const& b) {
            return layout::TextBox{left + b.x, top + b.y, b.width, b.height};
        };
        f.text(n.tag, in_row(x, y, layout::text::news_tag), sans(9, style_bold, f.ink(0xffffffff, COLOR_BTNTEXT), Align::Centre, Align::Centre));
        f.text(n.title, in_row(x, y, layout::text::news_title), sans(12, style_regular, f.ink(0xffe0e2eb, text_ink)));
        f.text(n.date, in_row(static_cast<float>(r.right), y, layout::text::news_date),
               sans(10, style_regular, f.ink(0xff787c8d, text_ink), Align::Far));
        f.line(r.left, r.bottom - 1, r.right, r.bottom - 1, f.ink(0xff272a3a, COLOR_WINDOWTEXT));
    }
}

void draw_status(Frame const& f) {
    WindowState const& state = f.state;
    draw_card(f, layout::status_card);
    f.text(state.server_name, layout::text::server_name, sans(17, style_bold, f.ink(0xfff1f2f7, COLOR_WINDOWTEXT)));
    RECT const dot = f.px(layout::status_dot);
    fill_ellipse(f.g, dot.left, dot.top, layout::width_of(dot), layout::height_of(dot),
                 f.ink(state.server_online ? 0xff44d369 : 0xffd2464c, COLOR_WINDOWTEXT));
    f.text(state.server_status_text, layout::text::server_status,
           sans(13, style_regular, f.ink(state.server_online ? 0xff65e085 : 0xffe67075, COLOR_WINDOWTEXT)));
    f.text(L"Kliens verzió", layout::text::version_label, sans(11, style_regular, f.ink(0xff7c8194, COLOR_WINDOWTEXT)));
    f.text(state.remote_version_text, layout::text::version_value,
           sans(11, style_bold, f.ink(0xffd7dae5, COLOR_WINDOWTEXT), Align::Far));

    draw_button(f, layout::website, button_label(state, ButtonId::Website), ButtonId::Website, !state.website_url.empty(),
                Tone::Link);
    draw_button(f, layout::discord, button_label(state, ButtonId::Discord), ButtonId::Discord, !state.discord_url.empty(),
                Tone::Link);
    draw_button(f, layout::register_link, button_label(state, ButtonId::Register), ButtonId::Register,
                !state.register_url.empty(), Tone::Link);
}

void draw_progress(Frame const& f) {
    WindowState const& state = f.state;
    bool const failed = state.progress.stage == PatchStage::Failed;
    f.text(state.progress.title.empty() ? std::wstring_view(L"Launcher készen áll") : state.progress.title,
           layout::text::progress_title, sans(17, style_bold, f.ink(failed ? 0xffeb686f : 0xfff0f1f6, COLOR_WINDOWTEXT)));
    f.text(state.progress.detail, layout::text::progress_detail, sans(12, style_regular, f.ink(0xff878ca0, COLOR_WINDOWTEXT)));

    RECT const track = layout::progress_track;
    f.fill_rounded(track, 8, f.ink(0xff1d202d, COLOR_WINDOW));
    if (f.state.contrast) f.border_rounded(track, 8, f.ink(0, COLOR_WINDOWTEXT));
    int const p = std::clamp(state.progress.percent, 0, 100);
    RECT const bar = f.px(track);
    int const w = static_cast<int>(static_cast<double>(p) * layout::width_of(bar) / 100.0);
    RECT const filled{bar.left, bar.top, bar.left + w, bar.bottom};
    if (w > 0 && f.state.contrast) {
        fill_rounded_rect(f.g, filled, f.px(8.0f), f.ink(0, COLOR_HIGHLIGHT));
    } else if (w > 0) {
        UniqueGdipPath const path = rounded_path(filled, f.px(8.0f));
        UniqueGdipBrush const brush = gradient_brush({bar.left, bar.top}, {bar.left + w, bar.top}, 0xff8b5beb, 0xffd49748);
        if (path && brush) gp::GdipFillPath(f.g, brush.get(), path.get());
    }
    f.text(std::to_wstring(p) + L"%", layout::text::progress_percent,
           sans(12, style_bold, f.ink(0xffdfe1ea, COLOR_WINDOWTEXT), Align::Far));
    f.text(counter_line(state.progress), layout::text::counter_line,
           sans(11, style_regular, f.ink(0xff7e8396, COLOR_WINDOWTEXT)));
}

void draw_controls(Frame const& f) {
    WindowState const& state = f.state;
    f.text(L"INDÍTANDÓ KLIENSEK", layout::text::client_count_label, sans(10, style_regular, f.ink(0xff7e8396, COLOR_WINDOWTEXT)));
    bool const idle = !state.patch_running;
    constexpr std::array<RECT, 3> counts{layout::count1, layout::count2, layout::count3};
    for (int n = 1; n <= 3; ++n) {
        auto const id = static_cast<ButtonId>(static_cast<int>(ButtonId::Count1) + n - 1);
        draw_button(f, counts[n - 1], button_label(state, id), id, idle, state.client_count == n ? Tone::Chosen : Tone::Neutral);
    }
    draw_button(f, layout::repair, button_label(state, ButtonId::Repair), ButtonId::Repair, idle, Tone::Neutral);
    draw_button(f, layout::play, button_label(state, ButtonId::Play), ButtonId::Play, idle && state.play_ready, Tone::Gold);
}

void draw_bottom_panel(Frame const& f) {
    f.fill_rounded(layout::bottom_panel, 12, f.ink(0xff0f111a, COLOR_WINDOW));
    f.border_rounded(layout::bottom_panel, 12, f.ink(0xff2b2f42, COLOR_WINDOWTEXT));
    draw_progress(f);
    draw_controls(f);
}

void draw_footer(Frame const& f) {
    f.text(L"© Korvel2 csapat. Minden jog fenntartva.", layout::text::footer,
           sans(10, style_regular, f.ink(0xff5a5f70, COLOR_WINDOWTEXT)));
}

// Around the focused item, outside it with a one-pixel gap, drawn last so that nothing
// covers it: light on the window's dark surfaces and on every button fill.
void draw_focus_ring(Frame const& f) {
    std::vector<AccessibleItem> const items = accessible_items(f.state);
    ButtonId const focused = focused_button(f.state, items);
    auto const item = std::find_if(items.begin(), items.end(), [&](auto const& i) { return i.button == focused; });
    if (focused == ButtonId::None || item == items.end()) return;
    // The pen is centred on its path: the middle of the ring, gap + width / 2 outside.
    int const out = layout::focus_ring_gap + layout::focus_ring_width / 2;
    RECT const& r = item->rect;
    draw_rounded_border(f.g, f.px(RECT{r.left - out, r.top - out, r.right + out, r.bottom + out}), f.px(11.0f),
                        f.ink(focus_ring_colour, COLOR_WINDOWTEXT), f.state.scale.pen(layout::focus_ring_width));
}

}  // namespace

void draw_window(WindowState const& state, GpGraphics* graphics) noexcept {
    // Only std::bad_alloc can come out of the string building below; a frame that cannot
    // allocate is left as far as it got rather than ending the process.
    try {
        gp::GdipSetSmoothingMode(graphics, Gdiplus::SmoothingModeAntiAlias);
        gp::GdipSetTextRenderingHint(graphics, Gdiplus::TextRenderingHintClearTypeGridFit);
        FontSet const fonts;
        Frame const f{state, graphics, fonts};
        draw_background(f);
        draw_header(f);
        draw_title_buttons(f);
        draw_banner(f);
        draw_hero(f);
        draw_news(f);
        draw_status(f);
        draw_bottom_panel(f);
        draw_footer(f);
        if (state.focus_visible) draw_focus_ring(f);
    } catch (...) {
        gp::GdipResetClip(graphics);
    }
}

UniqueGdipBitmap render_window(WindowState const& state) noexcept {
    UniqueGdipBitmap bitmap;
    RECT const size = state.scale.px(RECT{0, 0, layout::window_width, layout::window_height});
    gp::GdipCreateBitmapFromScan0(size.right, size.bottom, 0, PixelFormat32bppPARGB, nullptr, bitmap.put());
    if (!bitmap) return bitmap;
    UniqueGdipGraphics graphics;
    gp::GdipGetImageGraphicsContext(bitmap.get(), graphics.put());
    if (graphics) draw_window(state, graphics.get());
    return bitmap;
}

}  // namespace korvel
