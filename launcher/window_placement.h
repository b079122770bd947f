#pragma once
// The main window's size and place on a monitor: the one rule, used when the window is
// made and again whenever its monitor's scale or work area changes. Pure; any thread.

#include "platform/display_scale.h"

#include <windows.h>

#include <optional>

namespace korvel {

struct WindowPlacement {
    DisplayScale scale;  // what the window draws at
    RECT frame{};        // screen pixels
};

// A window of `design_size` (96-DPI pixels) on a monitor at `monitor` scale whose work
// area (its screen without the taskbar) is `work_area`:
// - drawn at the monitor's scale where it fits the work area at that scale; otherwise at
//   the largest smaller scale at which it fits, through the same DisplayScale mapping, so
//   every control stays on the screen and sharp; never below half the design size;
// - centred in the work area, or with `from` (where its top-left is, or is suggested to
//   be) there, moved only as far as it takes to lie inside the area;
// - where even the smallest scale is larger than the area, the top and right edges stay
//   inside (close, minimise and settings), the banner on the left is what goes.
WindowPlacement place_window(SIZE design_size, DisplayScale monitor, RECT const& work_area,
                             std::optional<POINT> from = std::nullopt);

}  // namespace korvel
