// The window in a contrast theme: drawn in the theme's colour pairs only, flat, and the
// chosen client count told by its shape as well.

#include "tests/window/contrast_themes.h"
#include "tests/window/gdiplus_support.h"
#include "window/layout.h"
#include "window/render.h"
#include "window/window_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

using korvel::ButtonId;
using korvel::SystemColours;
using korvel::WindowState;
namespace layout = korvel::layout;
using Gdiplus::ARGB;

ARGB argb(COLORREF c) {
    return 0xff000000u | (static_cast<ARGB>(GetRValue(c)) << 16) | (static_cast<ARGB>(GetGValue(c)) << 8) | GetBValue(c);
}

struct Probe {
    char const* what;
    int x, y;
    int colour;  // COLOR_*
};

// Every state the window has, with a banner picture and the mouse on a news row.
void fill(WindowState& state, bool running) {
    state.news_items = {{L"HÍR", L"Téli esemény", L"12.01.", L"https://x.invalid/1"},
                        {L"EVENT", L"Dupla tapasztalat", L"11.22.", L""}};
    state.website_url = L"https://x.invalid/";
    state.server_online = true;
    state.patch_running = running;
    state.play_ready = !running;
    state.client_count = 2;
    state.hover_id = ButtonId::NewsItem1;
    state.progress.title = L"Fájlok letöltése";
    state.progress.detail = L"3 / 9";
    state.progress.percent = 50;
    korvel::test::ensure_gdiplus();
    Gdiplus::DllExports::GdipCreateBitmapFromScan0(400, 200, 0, PixelFormat32bppARGB, nullptr, state.banner_bitmap.put());
}

TEST(ContrastRender, EveryPixelComesFromTheThemesPairs) {
    korvel::test::ensure_gdiplus();
    for (SystemColours const& theme : {korvel::test::contrast_black, korvel::test::contrast_white}) {
        for (bool const running : {false, true}) {
            WindowState state;
            fill(state, running);
            state.contrast = theme;
            std::vector<ARGB> const pixels = korvel::test::all_pixels(korvel::render_window(state).get());
            ASSERT_EQ(pixels.size(), 1200u * 760u);
            auto const at = [&](int x, int y) { return pixels[static_cast<std::size_t>(y) * 1200 + x]; };
            std::vector<Probe> probes = {
                {"background", 5, 5, COLOR_WINDOW},           {"background, bottom", 600, 755, COLOR_WINDOW},
                {"banner area", 400, 100, COLOR_WINDOW},      {"banner area, right", 780, 440, COLOR_WINDOW},
                {"news card", 1170, 90, COLOR_WINDOW},        {"hovered news row", 1100, 217, COLOR_HIGHLIGHT},
                {"progress track", 700, 672, COLOR_WINDOW},   {"progress bar", 100, 672, COLOR_HIGHLIGHT},
                {"chosen count", 812, 634, running ? COLOR_BTNFACE : COLOR_HIGHLIGHT},
                {"close button", 1157, 19, COLOR_BTNFACE},
                {"website link", 838, 514, COLOR_WINDOW},
            };
            probes.push_back({"Play", 920, 700, COLOR_BTNFACE});
            for (Probe const& p : probes)
                EXPECT_EQ(at(p.x, p.y), argb(theme[p.colour])) << p.what << (running ? " (running)" : "");

            // Texts and edges are smoothed, so their rims blend two colours of a pair; but no
            // colour of the launcher's own look remains, and no gradient: almost every pixel is
            // exactly one of the theme's.
            std::set<ARGB> allowed;
            for (int index : {COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_BTNFACE, COLOR_BTNTEXT, COLOR_HIGHLIGHT,
                              COLOR_HIGHLIGHTTEXT, COLOR_GRAYTEXT, COLOR_HOTLIGHT})
                allowed.insert(argb(theme[index]));
            auto const exact = std::count_if(pixels.begin(), pixels.end(), [&](ARGB c) { return allowed.count(c) != 0; });
            EXPECT_GT(static_cast<double>(exact) / static_cast<double>(pixels.size()), 0.97);
            for (ARGB own : {0xff744d20u, 0xff161925u, 0xff10121cu, 0xff1b1c22u, 0xff467cbeu})
                EXPECT_EQ(std::count(pixels.begin(), pixels.end(), own), 0) << std::hex << own;
        }
    }
}

// Across the middle of a count button from its left edge: the chosen one's border is three
// pixels of the button text colour, the others' one; the labels take their pair's text.
TEST(ContrastRender, TheChosenCountIsToldByItsBorderAsWellAsItsColours) {
    korvel::test::ensure_gdiplus();
    SystemColours const& theme = korvel::test::contrast_black;
    WindowState state;
    state.client_count = 2;
    state.contrast = theme;
    std::vector<ARGB> const pixels = korvel::test::all_pixels(korvel::render_window(state).get());
    auto const border_width = [&](RECT const& r) {
        int const y = (r.top + r.bottom) / 2;
        int width = 0;
        for (int x = r.left; x < r.left + 6; ++x) width += pixels[static_cast<std::size_t>(y) * 1200 + x] == argb(theme[COLOR_BTNTEXT]);
        return width;
    };
    EXPECT_EQ(border_width(layout::count1), 1);
    EXPECT_EQ(border_width(layout::count2), 3);
    EXPECT_EQ(border_width(layout::count3), 1);
}

}  // namespace
