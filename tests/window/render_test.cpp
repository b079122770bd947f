#include "tests/support/test_env.h"
#include "tests/window/gdiplus_support.h"
#include "window/banner_image.h"
#include "window/layout.h"
#include "window/render.h"
#include "window/window_state.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using korvel::ButtonId;
using korvel::WindowState;
namespace layout = korvel::layout;
using Gdiplus::ARGB;

// Fills of the looks, sampled inside each shape away from its label and corners.
constexpr ARGB neutral = 0xff161925, neutral_hover = 0xff1f2332, gold = 0xff744d20, gold_hover = 0xff916027,
               disabled = 0xff1b1c22, card = 0xff10121c, track = 0xff1d202d, bar_end = 0xffd49748;
constexpr int play_x = 920, play_y = 700, repair_x = 762, count_y = 624, website_x = 838, link_y = 514;

struct Probe {
    int x, y;
    ARGB colour;
    int tolerance = 3;
};

int channel(ARGB c, int shift) { return static_cast<int>((c >> shift) & 0xff); }

bool close_to(ARGB a, ARGB b, int tolerance) {
    for (int shift : {0, 8, 16, 24})
        if (std::abs(channel(a, shift) - channel(b, shift)) > tolerance) return false;
    return true;
}

// Pure red and blue under the banner's overlay at x = 700 (about a quarter dark there).
constexpr ARGB red = 0xffc50203, blue = 0xff0102c7;

// Pictures as BMP files: red bands of `band` rows at top and bottom, blue between.
std::filesystem::path banded_picture(std::filesystem::path const& folder, int w, int h, int band) {
    auto const file = folder / ("banded" + std::to_string(w) + ".bmp");
    korvel::test::write_file(file, korvel::test::bmp_bytes(w, h, [&](int, int y) {
        return y < band || y >= h - band ? 0xff0000u : 0x0000ffu;
    }));
    return file;
}

// The banner as the launcher loads it: at most as many pixels as its area shows.
korvel::UniqueGdipBitmap banner_of(std::filesystem::path const& file, WindowState const& state) {
    return korvel::load_banner_bitmap(file, state.scale.px(layout::banner));
}

struct Case {
    char const* name;
    std::function<void(WindowState&)> state;
    std::vector<Probe> probes;
};

void check(Case const& c) {
    WindowState state;
    c.state(state);
    korvel::UniqueGdipBitmap const frame = korvel::render_window(state);
    ASSERT_TRUE(frame) << c.name;
    for (Probe const& p : c.probes) {
        ARGB const got = korvel::test::pixel(frame.get(), p.x, p.y);
        EXPECT_TRUE(close_to(got, p.colour, p.tolerance))
            << c.name << " at " << p.x << "," << p.y << ": got " << std::hex << got << " expected " << p.colour;
    }
}

TEST(Render, StatesDrawTheirLooksAtKnownPoints) {
    korvel::test::ensure_gdiplus();
    korvel::test::TempDir const dir("render");
    auto const wide = banded_picture(dir.path(), 1920, 1080, 100);  // 80 rows cropped each side
    auto const square = banded_picture(dir.path(), 400, 400, 120);  // 104 rows cropped each side
    auto news = [](int count) {
        return [count](WindowState& state) {
            for (int i = 0; i < count; ++i) state.news_items.push_back({L"HÍR", L"Cím", L"01.02.", L""});
        };
    };
    Case const cases[] = {
        {"start-up", [](WindowState&) {},
         {{play_x, play_y, disabled}, {759, count_y, gold}, {808, count_y, neutral}, {repair_x, play_y, neutral},
          {website_x, link_y, disabled}, {841, 427, 0xffd2464c}, {836, 151, card}, {45, 672, track},
          {1157, 31, 0xff0d0f17}, {1051, 35, 0xff11141e}, {700, 264, 0xff271e37, 10}}},
        {"ready, play hovered, three clients",
         [](WindowState& a) { a.play_ready = true, a.hover_id = ButtonId::Play, a.client_count = 3; },
         {{play_x, play_y, gold_hover}, {857, count_y, gold}, {759, count_y, neutral}}},
        {"ready, nothing hovered", [](WindowState& a) { a.play_ready = true; }, {{play_x, play_y, gold}}},
        {"job running, play hovered",
         [](WindowState& a) { a.play_ready = a.patch_running = true, a.hover_id = ButtonId::Play; },
         {{play_x, play_y, disabled}, {759, count_y, disabled}, {repair_x, play_y, disabled}}},
        {"hover the selected count", [](WindowState& a) { a.hover_id = ButtonId::Count1; },
         {{759, count_y, gold_hover}, {808, count_y, neutral}}},
        {"hover another count", [](WindowState& a) { a.hover_id = ButtonId::Count2; },
         {{808, count_y, neutral_hover}, {759, count_y, gold}}},
        {"hover repair", [](WindowState& a) { a.hover_id = ButtonId::Repair; }, {{repair_x, play_y, neutral_hover}}},
        {"links with URLs, website hovered",
         [](WindowState& a) { a.website_url = a.discord_url = L"https://x.invalid/", a.hover_id = ButtonId::Website; },
         {{website_x, link_y, neutral_hover}, {948, link_y, neutral}, {1058, link_y, disabled}}},
        {"hover a disabled link", [](WindowState& a) { a.hover_id = ButtonId::Website; },
         {{website_x, link_y, disabled}}},
        {"hover close", [](WindowState& a) { a.hover_id = ButtonId::Close; }, {{1157, 31, 0xff912d3a}}},
        {"hover settings", [](WindowState& a) { a.hover_id = ButtonId::Settings; }, {{1051, 35, 0xff1f2332}}},
        {"online", [](WindowState& a) { a.server_online = true; }, {{841, 427, 0xff44d369}}},
        {"two news items, third row hovered",
         [&](WindowState& a) { news(2)(a), a.hover_id = ButtonId::NewsItem2; },
         {{836, 151, 0xff467cbe}, {836, 200, 0xff41965f}, {836, 249, card}, {1100, 266, card}}},
        {"four news items, first row hovered",
         [&](WindowState& a) { news(4)(a), a.hover_id = ButtonId::NewsItem0; },
         {{836, 249, 0xff6752ad}, {836, 298, 0xff6752ad}, {1100, 168, 0xff191c29}, {1100, 217, card}}},
        {"percent -5", [](WindowState& a) { a.progress.percent = -5; }, {{42, 672, track}}},
        {"percent 1", [](WindowState& a) { a.progress.percent = 1; }, {{43, 672, 0xffaf7999, 0x50}, {49, 672, track}}},
        {"percent 50", [](WindowState& a) { a.progress.percent = 50; }, {{376, 672, bar_end, 24}, {386, 672, track}}},
        {"percent 150", [](WindowState& a) { a.progress.percent = 150; }, {{716, 672, bar_end, 24}}},
        {"1920 x 1080 banner", [&](WindowState& a) {
             a.banner_bitmap = banner_of(wide, a);
             ASSERT_TRUE(a.banner_bitmap);
         },
         {{700, 81, red, 40}, {700, 95, blue, 40}, {700, 447, red, 40}, {700, 433, blue, 40}, {790, 264, blue, 60}}},
        {"400 x 400 banner", [&](WindowState& a) {
             a.banner_bitmap = banner_of(square, a);
             ASSERT_TRUE(a.banner_bitmap);
         },
         {{700, 100, red, 40}, {700, 115, blue, 40}, {700, 430, red, 40}, {700, 410, blue, 40}, {790, 264, blue, 60}}},
    };
    for (Case const& c : cases) check(c);
}

// Texts leave ink of their own colour; this also shows that every font role found an
// installed family.
TEST(Render, TextsAreDrawnInTheirColours) {
    korvel::test::ensure_gdiplus();
    struct Ink {
        char const* name;
        RECT area;
        ARGB colour;
        bool failed_stage;
        bool present;
    };
    Ink const inks[] = {
        {"logo (serif)", {20, 17, 240, 55}, 0xffd2a55b, false, true},
        {"settings glyph (symbol)", {1048, 18, 1082, 52}, 0xffd2d6e2, false, true},
        {"headline", {46, 164, 606, 274}, 0xfffaf9f5, false, true},
        {"first pill", {48, 365, 170, 400}, 0xffcbaf7e, false, true},
        {"status text", {856, 414, 1146, 442}, 0xffe67075, false, true},
        {"progress title", {40, 585, 520, 613}, 0xfff0f1f6, false, true},
        {"progress title of a failed job", {40, 585, 520, 613}, 0xffeb686f, true, true},
        {"no red title before a failure", {40, 585, 520, 613}, 0xffeb686f, false, false},
    };
    for (Ink const& ink : inks) {
        WindowState state;
        if (ink.failed_stage) state.progress.stage = korvel::PatchStage::Failed;
        korvel::UniqueGdipBitmap const frame = korvel::render_window(state);
        int hits = 0;
        for (LONG y = ink.area.top; y < ink.area.bottom; ++y)
            for (LONG x = ink.area.left; x < ink.area.right; ++x)
                hits += close_to(korvel::test::pixel(frame.get(), x, y), ink.colour, 12);
        EXPECT_EQ(hits >= 3, ink.present) << ink.name << ": " << hits << " pixels";
    }
}

// Pixels of `colour` (within 12 a channel) in `area`, and the rows they span.
std::tuple<int, LONG, LONG> ink_in(Gdiplus::GpBitmap* frame, RECT const& area, ARGB colour) {
    int pixels = 0;
    LONG top = LONG_MAX, bottom = 0;
    for (LONG y = area.top; y < area.bottom; ++y)
        for (LONG x = area.left; x < area.right; ++x)
            if (close_to(korvel::test::pixel(frame, x, y), colour, 12))
                ++pixels, top = std::min(top, y), bottom = y + 1;
    return {pixels, top, bottom};
}

// At 100, 125, 150 and 200 %: each area's fill lies just inside the layout's rectangle
// times the scale, not just outside it; each text lies inside its scaled box (none of
// it in a band around the box), with glyphs as many times taller as the scale says.
TEST(Render, EveryAreaAndTextFollowsTheDisplayScale) {
    korvel::test::ensure_gdiplus();
    auto const box = [](layout::TextBox const& b) {
        return RECT{LONG(b.x), LONG(b.y), LONG(b.x + b.width), LONG(b.y + b.height)};
    };
    std::pair<RECT, ARGB> const areas[] = {{layout::play, gold}, {layout::repair, neutral}, {layout::count1, gold},
                                           {layout::count2, neutral}, {layout::progress_track, track}};
    std::pair<RECT, ARGB> const texts[] = {{layout::play, 0xfff4f2ec}, {box(layout::standard.text.logo), 0xffd2a55b},
                                           {box(layout::standard.text.hero_title), 0xfffaf9f5},
                                           {box(layout::standard.text.server_name), 0xfff1f2f7},
                                           {box(layout::standard.text.progress_title), 0xfff0f1f6}};
    std::vector<LONG> heights_at_96;
    for (UINT const dpi : {96u, 120u, 144u, 192u}) {
        WindowState state;
        state.scale.dpi = dpi, state.play_ready = true;
        korvel::UniqueGdipBitmap const frame = korvel::render_window(state);
        korvel::test::save_png(frame.get(), "render-" + std::to_string(dpi) + "dpi.png");  // to look at
        auto const at = [&](LONG x, LONG y) { return korvel::test::pixel(frame.get(), x, y); };
        UINT width = 0, height = 0;
        Gdiplus::DllExports::GdipGetImageWidth(frame.get(), &width);
        Gdiplus::DllExports::GdipGetImageHeight(frame.get(), &height);
        EXPECT_TRUE(LONG(width) == state.scale.px(1200) && LONG(height) == state.scale.px(760)) << dpi;
        for (auto const& [design, fill] : areas) {
            RECT const r = state.scale.px(design);
            LONG const d = state.scale.px(3), x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
            for (auto const [in_x, in_y, out_x, out_y] :
                 {std::array{r.left + d, y, r.left - d, y}, std::array{r.right - 1 - d, y, r.right + d, y},
                  std::array{x, r.top + d, x, r.top - d}, std::array{x, r.bottom - 1 - d, x, r.bottom + d}}) {
                EXPECT_TRUE(close_to(at(in_x, in_y), fill, 3)) << dpi << ": inside at " << in_x << "," << in_y;
                EXPECT_FALSE(close_to(at(out_x, out_y), fill, 3)) << dpi << ": outside at " << out_x << "," << out_y;
            }
        }
        for (std::size_t i = 0; i < std::size(texts); ++i) {
            RECT const r = state.scale.px(texts[i].first);
            LONG const band = state.scale.px(12);
            auto const [pixels, top, bottom] = ink_in(frame.get(), r, texts[i].second);
            EXPECT_GE(pixels, 20) << dpi << ": text " << i;
            EXPECT_EQ(std::get<0>(ink_in(frame.get(), {r.left - band, r.top - band, r.right + band, r.bottom + band},
                                         texts[i].second)), pixels) << dpi << ": text " << i << " outside its box";
            if (dpi == 96) heights_at_96.push_back(bottom - top);
            double const expected = heights_at_96[i] * dpi / 96.0;  // hinting moves edges a pixel or two
            EXPECT_NEAR(bottom - top, expected, 1 + expected / 10) << dpi << ": text " << i;
        }
    }
}

LRESULT CALLBACK paint_proc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    auto* const state = reinterpret_cast<WindowState*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_PAINT && state) {
        korvel::paint_window(hwnd, *state);
        return 0;
    }
    if (message == WM_ERASEBKGND) return 1;
    return ::DefWindowProcW(hwnd, message, w, l);
}

// paint_window on a real window: the frame reaches the screen through BeginPaint.
TEST(Render, PaintWindowCopiesTheFrameToTheWindow) {
    korvel::test::ensure_gdiplus();
    WNDCLASSW wc{};
    wc.lpfnWndProc = paint_proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KorvelPaintTest";
    ::RegisterClassW(&wc);
    WindowState state;
    state.play_ready = true;
    HWND const hwnd = ::CreateWindowExW(0, wc.lpszClassName, L"paint", WS_POPUP, 0, 0, layout::window_width,
                                        layout::window_height, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_TRUE(hwnd);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    ::ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    ::UpdateWindow(hwnd);
    EXPECT_FALSE(::GetUpdateRect(hwnd, nullptr, FALSE));  // validated by EndPaint
    HDC const dc = ::GetDC(hwnd);
    COLORREF const play = ::GetPixel(dc, play_x, play_y);
    ::ReleaseDC(hwnd, dc);
    EXPECT_EQ(play, RGB(0x74, 0x4d, 0x20));
    ::DestroyWindow(hwnd);
}

}  // namespace
