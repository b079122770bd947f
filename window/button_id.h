#pragma once
// The active areas of the main window, shared by hit-testing and drawing.

#include <cstdint>

namespace korvel {

enum class ButtonId : std::int32_t {
    None = 0,
    Close = 1,
    Minimize = 2,
    Play = 3,
    Repair = 4,
    Settings = 5,
    Website = 6,
    Discord = 7,
    Register = 8,
    Count1 = 9,
    Count2 = 10,
    Count3 = 11,
    NewsItem0 = 12,
    NewsItem1 = 13,
    NewsItem2 = 14,
    NewsItem3 = 15,
};

}  // namespace korvel
