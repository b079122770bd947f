// The one list of what a player can reach: what each state exposes, where Tab and the
// arrows go, and the focus ring it places.

#include "tests/window/gdiplus_support.h"
#include "window/accessible_items.h"
#include "window/render.h"
#include "window/window_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using korvel::AccessibleItem;
using korvel::ButtonId;
using korvel::ItemRole;
using korvel::WindowState;

WindowState ready_with_news() {
    WindowState state;
    state.news_items = {{L"HÍR", L"Téli esemény", L"12.01.", L"https://x.invalid/1"},
                        {L"", L"Frissítés", L"", L""}};
    state.website_url = L"https://x.invalid/";
    state.play_ready = true;
    state.client_count = 2;
    state.progress.stage = korvel::PatchStage::Done;
    state.progress.title = L"A kliens naprakész";
    state.progress.detail = L"Minden fájl ellenőrizve.";
    state.progress.percent = 100;
    return state;
}

struct Seen {
    std::int32_t id;
    ItemRole role;
    std::wstring name;
    bool enabled;
    bool checked;
};

std::vector<Seen> seen(WindowState const& state) {
    std::vector<Seen> out;
    for (AccessibleItem const& i : korvel::accessible_items(state)) out.push_back({i.id, i.role, i.name, i.enabled, i.checked});
    return out;
}

void expect_items(char const* name, WindowState const& state, std::vector<Seen> const& expected) {
    std::vector<Seen> const got = seen(state);
    ASSERT_EQ(got.size(), expected.size()) << name;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].id, expected[i].id) << name << " #" << i;
        EXPECT_EQ(got[i].role, expected[i].role) << name << " #" << i;
        EXPECT_EQ(got[i].name, expected[i].name) << name << " #" << i;
        EXPECT_EQ(got[i].enabled, expected[i].enabled) << name << " #" << i;
        EXPECT_EQ(got[i].checked, expected[i].checked) << name << " #" << i;
    }
}

constexpr auto PB = ItemRole::PushButton, LK = ItemRole::Link, RB = ItemRole::RadioButton, PG = ItemRole::ProgressBar,
               ST = ItemRole::StaticText;

TEST(AccessibleItems, EachStateExposesItsItemsInReadingOrder) {
    WindowState startup;
    startup.patch_running = true;
    startup.progress.title = L"Frissítések keresése";
    startup.progress.detail = L"";
    expect_items("start-up", startup,
                 {{5, PB, L"Beállítások", false, false}, {2, PB, L"Kis méret", true, false},
                  {1, PB, L"Bezárás", true, false}, {16, ST, L"Korvel2: Állapot ellenőrzése...", true, false},
                  {6, LK, L"WEBOLDAL", false, false}, {7, LK, L"DISCORD", false, false},
                  {8, LK, L"REGISZTRÁCIÓ", false, false}, {17, PG, L"Frissítések keresése", true, false},
                  {9, RB, L"1 kliens", false, true}, {10, RB, L"2 kliens", false, false},
                  {11, RB, L"3 kliens", false, false}, {4, PB, L"JAVÍTÁS", false, false},
                  {3, PB, L"FRISSÍTÉS...", false, false}});
    expect_items("ready", ready_with_news(),
                 {{5, PB, L"Beállítások", true, false}, {2, PB, L"Kis méret", true, false},
                  {1, PB, L"Bezárás", true, false}, {12, LK, L"HÍR, Téli esemény, 12.01.", true, false},
                  {13, LK, L"Frissítés", true, false}, {16, ST, L"Korvel2: Állapot ellenőrzése...", true, false},
                  {6, LK, L"WEBOLDAL", true, false}, {7, LK, L"DISCORD", false, false},
                  {8, LK, L"REGISZTRÁCIÓ", false, false}, {17, PG, L"A kliens naprakész", true, false},
                  {18, ST, L"Minden fájl ellenőrizve.", true, false}, {9, RB, L"1 kliens", true, false},
                  {10, RB, L"2 kliens", true, true}, {11, RB, L"3 kliens", true, false},
                  {4, PB, L"JAVÍTÁS", true, false}, {3, PB, L"JÁTÉK INDÍTÁSA", true, false}});

    WindowState failed;
    failed.progress.stage = korvel::PatchStage::Failed;
    failed.progress.title = L"Frissítési hiba";
    failed.progress.detail = L"A szerver nem érhető el.";
    failed.progress.percent = 37;
    std::vector<AccessibleItem> const items = korvel::accessible_items(failed);
    auto const progress = korvel::find_item(items, korvel::k_item_progress);
    auto const detail = korvel::find_item(items, korvel::k_item_detail);
    ASSERT_TRUE(progress && detail);
    EXPECT_EQ(progress->value, L"37%");
    EXPECT_EQ(progress->description, L"A szerver nem érhető el.");
    EXPECT_EQ(detail->role, ItemRole::Alert);
    EXPECT_EQ(detail->name, L"Frissítési hiba: A szerver nem érhető el.");
    EXPECT_FALSE(korvel::find_item(items, static_cast<std::int32_t>(ButtonId::Play))->enabled);
}

// The focus, then where each of `presses` Tabs (or Shift+Tabs) takes it.
std::vector<ButtonId> walk(WindowState& state, bool forward, int presses) {
    std::vector<ButtonId> stops{korvel::focused_button(state, korvel::accessible_items(state))};
    for (int i = 0; i < presses; ++i) {
        state.focus_id = korvel::next_tab_stop(state, korvel::accessible_items(state), forward);
        stops.push_back(korvel::focused_button(state, korvel::accessible_items(state)));
    }
    return stops;
}

TEST(AccessibleItems, TabWalksTheEnabledStopsWithNewsAndCountAsOneStopEach) {
    using B = ButtonId;
    WindowState forward = ready_with_news(), backward = ready_with_news();
    EXPECT_EQ(walk(forward, true, 9),
              (std::vector{B::Play, B::Settings, B::Minimize, B::Close, B::NewsItem0, B::Website, B::Count2, B::Repair,
                           B::Play, B::Settings}));
    EXPECT_EQ(walk(backward, false, 4), (std::vector{B::Play, B::Repair, B::Count2, B::Website, B::NewsItem0}));

    // From inside a group Tab leaves the group.
    WindowState in_news = ready_with_news();
    in_news.focus_id = B::NewsItem1;
    EXPECT_EQ(walk(in_news, true, 1), (std::vector{B::NewsItem1, B::Website}));
    in_news.focus_id = B::NewsItem1;
    EXPECT_EQ(walk(in_news, false, 1), (std::vector{B::NewsItem1, B::Close}));

    // While a job runs only the window buttons can take the focus.
    WindowState running;
    running.patch_running = true;
    EXPECT_EQ(walk(running, true, 2), (std::vector{B::Minimize, B::Close, B::Minimize}));
}

TEST(AccessibleItems, TheFocusMovesOnFromAnItemThatBecomesUnavailableAndComesBack) {
    WindowState state = ready_with_news();
    state.focus_id = ButtonId::Count2;
    auto const focus = [&] { return korvel::focused_button(state, korvel::accessible_items(state)); };
    EXPECT_EQ(focus(), ButtonId::Count2);
    state.patch_running = true;  // counts, Repair, Play and Settings become unavailable
    EXPECT_EQ(focus(), ButtonId::Minimize);
    state.patch_running = false;
    EXPECT_EQ(focus(), ButtonId::Count2);
    state.focus_id = ButtonId::NewsItem1;
    state.news_items.clear();  // the row goes: the focus starts again from Play
    EXPECT_EQ(focus(), ButtonId::Play);
}

TEST(AccessibleItems, ArrowsMoveInsideTheNewsAndTheCount) {
    using B = ButtonId;
    WindowState state = ready_with_news();
    state.news_items.resize(4);
    auto const items = korvel::accessible_items(state);
    struct Move {
        B from;
        UINT key;
        B to;
    };
    Move const moves[] = {
        {B::NewsItem0, VK_DOWN, B::NewsItem1}, {B::NewsItem3, VK_DOWN, B::NewsItem3}, {B::NewsItem0, VK_UP, B::NewsItem0},
        {B::NewsItem2, VK_HOME, B::NewsItem0}, {B::NewsItem1, VK_END, B::NewsItem3}, {B::NewsItem1, VK_LEFT, B::None},
        {B::Count1, VK_RIGHT, B::Count2},      {B::Count3, VK_RIGHT, B::Count1},     {B::Count1, VK_LEFT, B::Count3},
        {B::Count2, VK_UP, B::Count1},         {B::Count2, VK_HOME, B::None},        {B::Play, VK_DOWN, B::None},
    };
    for (Move const& m : moves)
        EXPECT_EQ(korvel::move_in_group(items, m.from, m.key), m.to)
            << static_cast<int>(m.from) << " key " << m.key;
}

// Relative luminance and contrast ratio as WCAG defines them.
double luminance(Gdiplus::ARGB c) {
    auto const channel = [](int v) {
        double const s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel((c >> 16) & 0xff) + 0.7152 * channel((c >> 8) & 0xff) + 0.0722 * channel(c & 0xff);
}
double contrast(Gdiplus::ARGB a, Gdiplus::ARGB b) {
    double const la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The ring lies outside its item, two pixels wide (at 100 % and at 150 %), at 3:1 or more
// against the item's fill and against what it covers; until a key is pressed the frame is
// the mouse player's frame to the byte.
TEST(AccessibleItems, TheFocusRingShowsOnlyOnceTheKeyboardIsUsed) {
    korvel::test::ensure_gdiplus();
    for (UINT const dpi : {96u, 144u}) {
        for (ButtonId const focus : {ButtonId::Play, ButtonId::Count2, ButtonId::NewsItem0, ButtonId::Close}) {
            WindowState state = ready_with_news();
            state.scale.dpi = dpi;
            auto const pixels = [&] { return korvel::test::all_pixels(korvel::render_window(state).get()); };
            std::vector<Gdiplus::ARGB> const without = pixels();
            state.focus_id = focus;
            EXPECT_EQ(pixels(), without) << "the focus alone changes no pixel";
            state.focus_visible = true;
            std::vector<Gdiplus::ARGB> const with = pixels();

            RECT const r = state.scale.px(korvel::find_item(korvel::accessible_items(state), static_cast<int>(focus))->rect);
            LONG const width = state.scale.px(1200), y = (r.top + r.bottom) / 2;
            auto const at = [&](std::vector<Gdiplus::ARGB> const& frame, LONG x) { return frame[static_cast<std::size_t>(y * width + x)]; };
            Gdiplus::ARGB const fill = at(without, r.left + state.scale.px(4));
            int ring = 0;
            for (LONG x = r.left - state.scale.px(6); x < r.left; ++x)
                ring += contrast(at(with, x), fill) >= 3 && contrast(at(with, x), at(without, x)) >= 3;
            for (LONG x = r.left; x < r.right; ++x) ASSERT_EQ(at(with, x), at(without, x)) << "the item itself stays";
            EXPECT_GE(ring, state.scale.px(2)) << dpi << " focus " << static_cast<int>(focus);
            EXPECT_LE(ring, state.scale.px(2) + 1) << dpi << " focus " << static_cast<int>(focus);
        }
    }
}

}  // namespace
