#pragma once
// What the screen shows: pixels read back from the (virtual) display, as a player sees
// them, windows on top included.

#include <windows.h>

#include <cstdint>
#include <vector>

namespace korvel::test {

// The pixels of `area` (screen coordinates), 0xRRGGBB, row by row from the top.
std::vector<std::uint32_t> screen_capture(RECT const& area);

// The same for a window's whole frame.
std::vector<std::uint32_t> screen_capture(HWND window);

}  // namespace korvel::test
