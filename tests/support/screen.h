#pragma once
// Pixels read back from the (virtual) display, as a player sees them.

#include <windows.h>

#include <cstdint>
#include <vector>

namespace korvel::test {

// The pixels of `area` (screen coordinates) or of a window's frame, 0xRRGGBB, row by row.
std::vector<std::uint32_t> screen_capture(RECT const& area);
std::vector<std::uint32_t> screen_capture(HWND window);

}  // namespace korvel::test
