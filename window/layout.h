#pragma once
// Where everything sits in the 1200 x 760 window, in design pixels (96 DPI, 100 %): the
// window's size, every area the controller hit-tests and the renderer draws, and where
// each text goes. Written once; DisplayScale::px (platform/display_scale.h) maps it to
// the device pixels of the window's display scale wherever it is used.

#include <windows.h>

#include <array>

namespace korvel::layout {

inline constexpr int window_width = 1200;
inline constexpr int window_height = 760;
// Rows above this drag the window (the header), except where a title button sits.
inline constexpr int drag_strip_height = 64;

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

// The keyboard focus ring: this far outside its item, this wide.
inline constexpr int focus_ring_gap = 1;
inline constexpr int focus_ring_width = 2;

// Where each text is placed, {x, y, width, height}, as the text drawing takes it.
struct TextBox {
    float x, y, width, height;
};

namespace text {
inline constexpr TextBox logo{20, 17, 220, 38};
inline constexpr TextBox subtitle{22, 48, 260, 18};
inline constexpr TextBox hero_title{46, 164, 560, 110};
inline constexpr TextBox hero_subtitle{48, 276, 510, 62};
inline constexpr TextBox news_heading{832, 94, 230, 24};
inline constexpr TextBox news_note{1050, 97, 115, 20};
inline constexpr TextBox server_name{834, 380, 220, 26};
inline constexpr TextBox server_status{856, 414, 290, 28};
inline constexpr TextBox version_label{834, 454, 130, 20};
inline constexpr TextBox version_value{1030, 454, 115, 20};
inline constexpr TextBox progress_title{40, 585, 480, 28};
inline constexpr TextBox progress_detail{40, 618, 610, 24};
inline constexpr TextBox progress_percent{670, 635, 50, 22};
inline constexpr TextBox counter_line{40, 689, 680, 22};
inline constexpr TextBox client_count_label{755, 584, 140, 18};
inline constexpr TextBox footer{20, 741, 340, 16};
// Inside a news row, from its top-left corner; the date from its top-right corner.
// The title is 180 wide rather than 210: the date starts 185 pixels in, and a long
// title must end before a date rather than run into it.
inline constexpr TextBox news_tag{0, 8, 76, 23};
inline constexpr TextBox news_title{86, 5, 180, 24};
inline constexpr TextBox news_date{-62, 6, 55, 20};
}  // namespace text

// The rule under the header, the status dot and a news row's tag badge (from the row's
// top-left corner).
inline constexpr RECT header_rule{18, 66, 1182, 66};
inline constexpr RECT status_dot{835, 421, 847, 433};
inline constexpr RECT news_badge{0, 8, 76, 31};

inline constexpr int width_of(RECT const& r) {
    return r.right - r.left;
}
inline constexpr int height_of(RECT const& r) {
    return r.bottom - r.top;
}

}  // namespace korvel::layout
