#pragma once
// The display modes the settings dialog offers.

#include "gamecfg/config_state.h"

#include <windows.h>

#include <functional>
#include <vector>

namespace korvel {

// Fills `mode` with mode number `index`; false past the last one (EnumDisplaySettingsW).
using DisplayModeSource = std::function<bool(DWORD index, DEVMODEW& mode)>;

// Every mode of at least 32 bits, 800 wide and 600 high, ascending by width, height and
// frequency, each triple once.
std::vector<DisplayMode> usable_display_modes(DisplayModeSource const& source);

// The same for the current display device.
std::vector<DisplayMode> usable_display_modes();

}  // namespace korvel
