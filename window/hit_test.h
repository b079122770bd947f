#pragma once
// Which active area of the main window lies under a point: the buttons, the header that
// drags the window, and the news rows that show an item. Reads the state only; UI thread.

#include "platform/display_scale.h"
#include "window/button_id.h"
#include "window/layout.h"

#include <windows.h>

#include <array>
#include <span>

namespace korvel {

struct WindowState;

struct ButtonArea {
    RECT rect;  // design pixels
    ButtonId id;
};

// The buttons in the order they are tested: where two overlapped, the earlier would win.
// The links sit where the arrangement for the system's text size puts them.
constexpr std::array<ButtonArea, 11> button_areas(layout::Arrangement const& at) {
    return {{
        {layout::close, ButtonId::Close},   {layout::minimize, ButtonId::Minimize},
        {layout::settings, ButtonId::Settings}, {layout::play, ButtonId::Play},
        {layout::repair, ButtonId::Repair}, {layout::count1, ButtonId::Count1},
        {layout::count2, ButtonId::Count2}, {layout::count3, ButtonId::Count3},
        {at.website, ButtonId::Website},    {at.discord, ButtonId::Discord},
        {at.register_link, ButtonId::Register},
    }};
}

// The first of `areas` whose rectangle at `scale` holds `point` (client pixels); None
// when none does. Left and top edges belong to a rectangle, right and bottom edges do not.
ButtonId first_hit(std::span<ButtonArea const> areas, DisplayScale scale, POINT point);

// The active area under a point in client pixels: the buttons in button_areas' order,
// then the news rows that have an item; None elsewhere.
ButtonId hit_test(WindowState const& state, POINT point);

// True where a press drags the window: the header strip outside its title buttons.
bool in_drag_strip(WindowState const& state, POINT point);

}  // namespace korvel
