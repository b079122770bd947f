#include "gamecfg/display_modes.h"

#include <set>
#include <tuple>

namespace korvel {

static_assert(sizeof(DEVMODEW) == 220, "the display calls expect the 220-byte DEVMODEW");

std::vector<DisplayMode> usable_display_modes(DisplayModeSource const& source) {
    std::set<std::tuple<std::int32_t, std::int32_t, std::int32_t>> sorted;
    for (DWORD index = 0;; ++index) {
        DEVMODEW mode{};
        mode.dmSize = sizeof(DEVMODEW);
        mode.dmDriverExtra = 0;
        if (!source(index, mode)) break;
        if (mode.dmBitsPerPel < 32 || mode.dmPelsWidth < 800 || mode.dmPelsHeight < 600) continue;
        sorted.emplace(static_cast<std::int32_t>(mode.dmPelsWidth), static_cast<std::int32_t>(mode.dmPelsHeight),
                       static_cast<std::int32_t>(mode.dmDisplayFrequency));
    }
    std::vector<DisplayMode> modes;
    for (auto const& [width, height, frequency] : sorted) modes.push_back({width, height, frequency});
    return modes;
}

std::vector<DisplayMode> usable_display_modes() {
    return usable_display_modes(
        [](DWORD index, DEVMODEW& mode) { return ::EnumDisplaySettingsW(nullptr, index, &mode) != FALSE; });
}

}  // namespace korvel
