// Hit-testing of the main window's areas from its state, at the design scale.

#include "window/hit_test.h"
#include "window/window_state.h"

#include <gtest/gtest.h>

using korvel::ButtonId;

TEST(HitTest, ButtonsInOrderEdgesAndNewsRowsWithItems) {
    struct Case {
        POINT point;
        size_t news_items;
        ButtonId expected;
    };
    Case const cases[] = {
        {{1154, 16}, 0, ButtonId::Close},     {{1183, 45}, 0, ButtonId::Close},   {{1184, 30}, 0, ButtonId::None},
        {{1160, 46}, 0, ButtonId::None},      {{1114, 16}, 0, ButtonId::Minimize}, {{1048, 18}, 0, ButtonId::Settings},
        {{1082, 30}, 0, ButtonId::None},      {{909, 650}, 0, ButtonId::Play},    {{1159, 715}, 0, ButtonId::Play},
        {{1160, 700}, 0, ButtonId::None},     {{755, 650}, 0, ButtonId::Repair},  {{895, 660}, 0, ButtonId::None},
        {{755, 607}, 0, ButtonId::Count1},    {{845, 640}, 0, ButtonId::Count2},  {{853, 607}, 0, ButtonId::Count3},
        {{834, 499}, 0, ButtonId::Website},   {{944, 529}, 0, ButtonId::Discord}, {{1163, 529}, 0, ButtonId::Register},
        {{832, 132}, 0, ButtonId::None},      {{832, 132}, 2, ButtonId::NewsItem0}, {{1164, 222}, 2, ButtonId::NewsItem1},
        {{832, 230}, 2, ButtonId::None},      {{832, 279}, 2, ButtonId::None},    {{1164, 320}, 4, ButtonId::NewsItem3},
        {{832, 174}, 4, ButtonId::None},  // between two rows
    };
    korvel::WindowState state;
    for (auto const& c : cases) {
        state.news_items.assign(c.news_items, korvel::NewsItem{});
        EXPECT_EQ(korvel::hit_test(state, c.point), c.expected) << c.point.x << "," << c.point.y << " " << c.news_items;
    }
    // Overlapping areas: the earlier one in the order wins.
    korvel::ButtonArea const overlapping[] = {
        {korvel::layout::close, ButtonId::Close}, {korvel::layout::close, ButtonId::Play},
        {korvel::layout::close, ButtonId::Settings}};
    EXPECT_EQ(korvel::first_hit(overlapping, state.scale, POINT{1160, 20}), ButtonId::Close);
}

TEST(HitTest, TheHeaderDragsOutsideItsTitleButtonsAtEveryScale) {
    struct Case {
        UINT dpi;
        POINT point;
        bool drags;
    };
    Case const cases[] = {
        {96, {500, 63}, true},   {96, {500, 64}, false},  {96, {1160, 20}, false}, {96, {1100, 20}, true},
        {96, {1060, 30}, false}, {144, {500, 95}, true}, {144, {500, 96}, false}, {144, {1740, 30}, false},
    };
    korvel::WindowState state;
    for (Case const& c : cases) {
        state.scale.dpi = c.dpi;
        EXPECT_EQ(korvel::in_drag_strip(state, c.point), c.drags) << c.dpi << ": " << c.point.x << "," << c.point.y;
    }
}
