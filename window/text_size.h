#pragma once
// The size a window text is drawn at for the system's text scale factor
// (platform/text_scale.h), in design pixels. As the system's own texts do, larger texts
// grow less: a text grows by the factor up to 8 px of its size and by that much above
// it, so the smallest grow most; above 100 % none is smaller than 12 px. At 100 % every
// text keeps its size.

#include <algorithm>

namespace korvel {

inline constexpr float k_smallest_larger_text_px = 12;

constexpr float text_px(float design, float text_factor) {
    if (text_factor <= 1) return design;
    return std::max(k_smallest_larger_text_px, design + (text_factor - 1) * std::min(design, 8.0f));
}

}  // namespace korvel
