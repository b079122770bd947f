#include "launcher/window_placement.h"

#include <algorithm>

namespace korvel {

WindowPlacement place_window(SIZE design_size, DisplayScale monitor, RECT const& work_area,
                             std::optional<POINT> from) {
    LONG const area_width = work_area.right - work_area.left, area_height = work_area.bottom - work_area.top;
    auto const size_at = [&](DisplayScale scale) { return SIZE{scale.px(design_size.cx), scale.px(design_size.cy)}; };
    auto const fits = [&](SIZE size) { return size.cx <= area_width && size.cy <= area_height; };

    // One DPI step at a time: px rounds each length on its own, so a formula could miss the
    // largest scale that fits by one.
    DisplayScale scale = monitor;
    UINT const smallest = std::min(monitor.dpi, k_design_dpi / 2);
    while (scale.dpi > smallest && !fits(size_at(scale))) --scale.dpi;

    SIZE const size = size_at(scale);
    POINT at = from.value_or(POINT{work_area.left + (area_width - size.cx) / 2,
                                   work_area.top + (area_height - size.cy) / 2});
    at.x = std::min(std::max(at.x, work_area.left), work_area.right - size.cx);
    at.y = std::max(std::min(at.y, work_area.bottom - size.cy), work_area.top);
    return {scale, RECT{at.x, at.y, at.x + size.cx, at.y + size.cy}};
}

}  // namespace korvel
