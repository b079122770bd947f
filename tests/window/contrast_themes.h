#pragma once
// The colours of two of Windows' contrast themes, as GetSysColor reports them while one is
// on: Wine cannot switch a theme on, so the window tests and the screenshot tool hand
// them to the renderer themselves.

#include "platform/high_contrast.h"

#include <windows.h>

#include <initializer_list>
#include <utility>

namespace korvel::test {

inline SystemColours contrast_colours(std::initializer_list<std::pair<int, COLORREF>> colours) {
    SystemColours theme;
    for (auto const& [index, colour] : colours) theme.by_index[static_cast<std::size_t>(index)] = colour;
    return theme;
}

// "High Contrast Black" and "High Contrast White".
inline SystemColours const contrast_black = contrast_colours({
    {COLOR_WINDOW, RGB(0, 0, 0)}, {COLOR_WINDOWTEXT, RGB(255, 255, 255)}, {COLOR_BTNFACE, RGB(0, 0, 0)},
    {COLOR_BTNTEXT, RGB(255, 255, 255)}, {COLOR_HIGHLIGHT, RGB(26, 235, 255)}, {COLOR_HIGHLIGHTTEXT, RGB(0, 0, 0)},
    {COLOR_GRAYTEXT, RGB(63, 242, 63)}, {COLOR_HOTLIGHT, RGB(255, 255, 0)}});
inline SystemColours const contrast_white = contrast_colours({
    {COLOR_WINDOW, RGB(255, 255, 255)}, {COLOR_WINDOWTEXT, RGB(0, 0, 0)}, {COLOR_BTNFACE, RGB(255, 255, 255)},
    {COLOR_BTNTEXT, RGB(0, 0, 0)}, {COLOR_HIGHLIGHT, RGB(55, 0, 110)}, {COLOR_HIGHLIGHTTEXT, RGB(255, 255, 255)},
    {COLOR_GRAYTEXT, RGB(96, 0, 0)}, {COLOR_HOTLIGHT, RGB(0, 0, 159)}});

}  // namespace korvel::test
