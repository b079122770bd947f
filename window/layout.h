#pragma once
// Where everything sits in the fixed 1200 x 760 window, in client pixels: the window's
// size and every area the controller hit-tests and the renderer draws.

#include <windows.h>

#include <array>

namespace korvel::layout {

inline constexpr int window_width = 1200;
inline constexpr int window_height = 760;

inline constexpr RECT close{1154, 16, 1184, 46};
inline constexpr RECT minimize{1114, 16, 1144, 46};
inline constexpr RECT settings{1048, 18, 1082, 52};
inline constexpr RECT play{909, 650, 1160, 716};
inline constexpr RECT repair{755, 650, 895, 716};
inline constexpr RECT website{834, 499, 934, 530};
inline constexpr RECT discord{944, 499, 1044, 530};
inline constexpr RECT register_link{1054, 499, 1164, 530};
inline constexpr RECT count1{755, 607, 797, 641};
inline constexpr RECT count2{804, 607, 846, 641};
inline constexpr RECT count3{853, 607, 895, 641};
inline constexpr RECT banner{18, 78, 795, 450};
inline constexpr RECT news_card{815, 78, 1182, 346};
inline constexpr RECT status_card{815, 360, 1182, 548};
inline constexpr RECT bottom_panel{18, 565, 1182, 738};
// Drawn only: the hero's badge and its three pills, and the progress bar's track (the
// bar fills it from the left).
inline constexpr RECT hero_badge{46, 112, 178, 142};
inline constexpr std::array<RECT, 3> hero_pills{
    RECT{48, 365, 170, 400}, RECT{180, 365, 332, 400}, RECT{342, 365, 500, 400}};
inline constexpr RECT progress_track{40, 664, 720, 680};
// The news card's rows, top to bottom; the card shows at most this many items.
inline constexpr std::array<RECT, 4> news_rows{
    RECT{832, 132, 1165, 174}, RECT{832, 181, 1165, 223}, RECT{832, 230, 1165, 272}, RECT{832, 279, 1165, 321}};

inline constexpr int width_of(RECT const& r) {
    return r.right - r.left;
}
inline constexpr int height_of(RECT const& r) {
    return r.bottom - r.top;
}

}  // namespace korvel::layout
