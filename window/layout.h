#pragma once
// Where everything sits in the 1200 x 760 window, in design pixels (96 DPI, 100 %): the
// window's size, every area the controller hit-tests and the renderer draws, and where
// each text goes, in two arrangements: the standard one, and one with room for the
// system's larger text (arrangement_for). DisplayScale::px (platform/display_scale.h)
// maps it to the device pixels of the window's display scale wherever it is used.

#include <windows.h>

#include <array>
#include <cstddef>

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
inline constexpr RECT count1{755, 607, 797, 641};
inline constexpr RECT count2{804, 607, 846, 641};
inline constexpr RECT count3{853, 607, 895, 641};
inline constexpr RECT banner{18, 78, 795, 450};
inline constexpr RECT bottom_panel{18, 565, 1182, 738};
// Drawn only: the progress bar's track (the bar fills it from the left).
inline constexpr RECT progress_track{40, 664, 720, 680};
// The rule under the header.
inline constexpr RECT header_rule{18, 66, 1182, 66};

// The keyboard focus ring: this far outside its item, this wide.
inline constexpr int focus_ring_gap = 1;
inline constexpr int focus_ring_width = 2;

// Where each text is placed, {x, y, width, height}, as the text drawing takes it.
struct TextBox {
    float x, y, width, height;
};

struct TextBoxes {
    TextBox logo, subtitle, hero_title, hero_subtitle, news_heading, news_note, server_name, server_status,
        version_label, version_value, progress_title, progress_detail, progress_percent, counter_line,
        client_count_label, footer;
    // Inside a news row, from its top-left corner; the date from its top-right corner.
    TextBox news_tag, news_title, news_date;
};

// The parts that move when the system's texts are larger (window/text_size.h): the hero's
// badge and pills, the news and status cards with their rows and links, and the texts.
struct Arrangement {
    // Drawn only: the hero's badge and its three pills.
    RECT hero_badge;
    std::array<RECT, 3> hero_pills;
    RECT news_card;
    // The news card's rows, top to bottom; the card shows the first news_row_count.
    std::array<RECT, 4> news_rows;
    std::size_t news_row_count;
    // A news row's tag badge, from the row's top-left corner.
    RECT news_badge;
    RECT status_card;
    RECT status_dot;
    RECT website, discord, register_link;
    TextBoxes text;
};

// The launcher's own arrangement, at text size 100 %. A news title is 180 wide rather
// than 210: the date starts 185 pixels in, and a long title must end before a date
// rather than run into it.
inline constexpr Arrangement standard{
    .hero_badge{46, 112, 178, 142},
    .hero_pills{RECT{48, 365, 170, 400}, RECT{180, 365, 332, 400}, RECT{342, 365, 500, 400}},
    .news_card{815, 78, 1182, 346},
    .news_rows{RECT{832, 132, 1165, 174}, RECT{832, 181, 1165, 223}, RECT{832, 230, 1165, 272},
               RECT{832, 279, 1165, 321}},
    .news_row_count = 4,
    .news_badge{0, 8, 76, 31},
    .status_card{815, 360, 1182, 548},
    .status_dot{835, 421, 847, 433},
    .website{834, 499, 934, 530},
    .discord{944, 499, 1044, 530},
    .register_link{1054, 499, 1164, 530},
    .text{
        .logo{20, 17, 220, 38},
        .subtitle{22, 48, 260, 18},
        .hero_title{46, 164, 560, 110},
        .hero_subtitle{48, 276, 510, 62},
        .news_heading{832, 94, 230, 24},
        .news_note{1050, 97, 115, 20},
        .server_name{834, 380, 220, 26},
        .server_status{856, 414, 290, 28},
        .version_label{834, 454, 130, 20},
        .version_value{1030, 454, 115, 20},
        .progress_title{40, 585, 480, 28},
        .progress_detail{40, 618, 610, 24},
        .progress_percent{670, 635, 50, 22},
        .counter_line{40, 689, 680, 22},
        .client_count_label{755, 584, 140, 18},
        .footer{20, 741, 340, 16},
        .news_tag{0, 8, 76, 23},
        .news_title{86, 5, 180, 24},
        .news_date{-62, 6, 55, 20},
    },
};

// Above 100 %, room for the largest texts (225 %) inside the same window: the subtitle
// beside the logo, the hero's badge and pills wider, the news heading over its note, each
// news row two lines of title under its tag and date (two rows fit), the status line on
// two lines and the links on two rows, the client count's label across the controls and
// the progress detail on two lines. Play, Repair and the counts keep their places.
inline constexpr Arrangement larger_text{
    .hero_badge{46, 96, 266, 130},
    .hero_pills{RECT{48, 340, 262, 380}, RECT{272, 340, 512, 380}, RECT{522, 340, 754, 380}},
    .news_card{815, 78, 1182, 332},
    .news_rows{RECT{832, 144, 1165, 232}, RECT{832, 236, 1165, 324}, RECT{}, RECT{}},
    .news_row_count = 2,
    .news_badge{0, 6, 100, 32},
    .status_card{815, 344, 1182, 548},
    .status_dot{835, 398, 847, 410},
    .website{834, 472, 1005, 504},
    .discord{1015, 472, 1164, 504},
    .register_link{834, 510, 1048, 542},
    .text{
        .logo{20, 12, 190, 46},
        .subtitle{214, 24, 420, 30},
        .hero_title{46, 138, 600, 112},
        .hero_subtitle{48, 256, 720, 66},
        .news_heading{832, 88, 333, 30},
        .news_note{832, 118, 333, 24},
        .server_name{834, 350, 330, 34},
        .server_status{856, 386, 309, 54},
        .version_label{834, 442, 200, 26},
        .version_value{1000, 442, 165, 26},
        .progress_title{40, 572, 600, 32},
        .progress_detail{40, 604, 600, 56},
        .progress_percent{650, 632, 70, 28},
        .counter_line{40, 684, 680, 52},
        .client_count_label{755, 578, 405, 26},
        .footer{20, 737, 600, 23},
        .news_tag{0, 6, 100, 26},
        .news_title{0, 34, 333, 54},
        .news_date{-90, 6, 90, 26},
    },
};

// The arrangement for the system's text scale factor (1 to 2.25).
inline constexpr Arrangement const& arrangement_for(float text_factor) {
    return text_factor > 1 ? larger_text : standard;
}

inline constexpr int width_of(RECT const& r) {
    return r.right - r.left;
}
inline constexpr int height_of(RECT const& r) {
    return r.bottom - r.top;
}

}  // namespace korvel::layout
