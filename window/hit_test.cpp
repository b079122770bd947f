#include "window/hit_test.h"

#include "window/window_state.h"

#include <algorithm>
#include <cstddef>

namespace korvel {

namespace {

// `rect` in design pixels, `point` in the window's device pixels.
bool inside(DisplayScale scale, RECT const& rect, POINT point) {
    RECT const device = scale.px(rect);
    return ::PtInRect(&device, point) != FALSE;
}

}  // namespace

ButtonId first_hit(std::span<ButtonArea const> areas, DisplayScale scale, POINT point) {
    for (ButtonArea const& area : areas)
        if (inside(scale, area.rect, point)) return area.id;
    return ButtonId::None;
}

ButtonId hit_test(WindowState const& state, POINT point) {
    layout::Arrangement const& at = layout::arrangement_for(state.text_factor);
    if (ButtonId const button = first_hit(button_areas(at), state.scale, point); button != ButtonId::None)
        return button;
    // A news row without an item is neither clickable nor highlighted.
    std::size_t const rows = std::min(at.news_row_count, state.news_items.size());
    for (std::size_t i = 0; i < rows; ++i)
        if (inside(state.scale, at.news_rows[i], point))
            return static_cast<ButtonId>(static_cast<int>(ButtonId::NewsItem0) + static_cast<int>(i));
    return ButtonId::None;
}

bool in_drag_strip(WindowState const& state, POINT point) {
    bool const on_title_button = inside(state.scale, layout::close, point) ||
                                 inside(state.scale, layout::minimize, point) ||
                                 inside(state.scale, layout::settings, point);
    return point.y < state.scale.px(layout::drag_strip_height) && !on_title_button;
}

}  // namespace korvel
