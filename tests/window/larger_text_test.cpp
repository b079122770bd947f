// The system's larger text: the sizes texts grow to, and a window that gives every text
// of the README's states its room at 150 % and 225 %, its hit areas and accessible items
// where the texts moved them.

#include "platform/text.h"
#include "platform/text_scale.h"
#include "tests/window/gdiplus_support.h"
#include "tests/window/readme_states.h"
#include "window/accessible_items.h"
#include "window/hit_test.h"
#include "window/layout.h"
#include "window/render.h"
#include "window/text_size.h"
#include "window/window_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using korvel::ButtonId;
using korvel::WindowState;
namespace layout = korvel::layout;

TEST(LargerText, FactorsAndSizesHaveKnownAnswers) {
    struct Percent {
        DWORD stored;
        float factor;
    };
    for (Percent const c : {Percent{0, 1}, Percent{100, 1}, Percent{150, 1.5f}, Percent{225, 2.25f}, Percent{400, 2.25f}})
        EXPECT_FLOAT_EQ(korvel::text_scale_from_percent(c.stored), c.factor) << c.stored;

    // At 100 % every size stays; above it the smallest reach 12 px at once, and a large
    // text grows by as many pixels as an 8 px one, not by the factor.
    struct Size {
        float design, factor, drawn;
    };
    for (Size const c : {Size{9, 1, 9}, Size{10, 1, 10}, Size{35, 1, 35}, Size{9, 1.01f, 12}, Size{10, 1.5f, 14},
                         Size{12, 1.5f, 16}, Size{9, 2.25f, 19}, Size{12, 2.25f, 22}, Size{35, 2.25f, 45}})
        EXPECT_FLOAT_EQ(korvel::text_px(c.design, c.factor), c.drawn) << c.design << " at " << c.factor;
}

// Every text of every README state, at two text sizes and two display scales: drawn at
// its full size (never below 12 px x the scale), never cut, and inside its place.
TEST(LargerText, EveryTextOfTheReadmeStatesHasItsRoom) {
    korvel::test::ensure_gdiplus();
    struct State {
        char const* name;
        void (*apply)(WindowState&);
    };
    State const states[] = {{"start-up", [](WindowState&) {}},
                            {"downloading", korvel::test::downloading},
                            {"ready", korvel::test::ready_to_play},
                            {"failed", korvel::test::failed}};
    for (State const& s : states)
        for (float const factor : {1.5f, 2.25f})
            for (UINT const dpi : {96u, 144u}) {
                WindowState state;
                s.apply(state);
                state.text_factor = factor, state.scale.dpi = dpi;
                std::vector<korvel::DrawnText> texts;
                ASSERT_TRUE(korvel::render_window(state, &texts));
                std::string const where = std::string(s.name) + " at " + std::to_string(factor) + ", dpi " +
                                          std::to_string(dpi) + ": ";
                EXPECT_GE(texts.size(), 25u) << where;
                for (korvel::DrawnText const& t : texts) {
                    std::string const text = where + korvel::wide_to_utf8(t.shown);
                    EXPECT_EQ(t.shown.find(L'\u2026'), std::wstring::npos) << text;
                    EXPECT_EQ(t.drawn_px, t.asked_px) << text;
                    EXPECT_GE(t.drawn_px, 12.0f * static_cast<float>(dpi) / 96.0f) << text;
                    EXPECT_TRUE(t.fits) << text;
                }
            }
}

// The news rows and the links that moved are where the clicks, the keyboard and a screen
// reader find them: two rows, the links on two rows.
TEST(LargerText, HitAreasAndAccessibleItemsFollowTheArrangement) {
    WindowState state;
    korvel::test::ready_to_play(state);
    state.text_factor = 2.25f;
    auto const centre = [&](RECT const& r) {
        RECT const d = state.scale.px(r);
        return POINT{(d.left + d.right) / 2, (d.top + d.bottom) / 2};
    };
    layout::Arrangement const& at = layout::larger_text;
    EXPECT_EQ(korvel::hit_test(state, centre(at.register_link)), ButtonId::Register);
    EXPECT_EQ(korvel::hit_test(state, centre(at.news_rows[1])), ButtonId::NewsItem1);
    // Where Website is at 100 %, Register's second row is now.
    EXPECT_EQ(korvel::hit_test(state, centre(layout::standard.website)), ButtonId::Register);

    std::vector<korvel::AccessibleItem> const items = korvel::accessible_items(state);
    auto const rect_of = [&](ButtonId id) {
        auto const item = std::find_if(items.begin(), items.end(), [&](auto const& i) { return i.button == id; });
        return item == items.end() ? RECT{} : item->rect;
    };
    RECT const register_rect = rect_of(ButtonId::Register);
    EXPECT_TRUE(::EqualRect(&at.register_link, &register_rect));
    EXPECT_EQ(std::count_if(items.begin(), items.end(), [](auto const& i) { return i.role == korvel::ItemRole::Link; }),
              2 + 3);  // two news rows and three links
}

}  // namespace
