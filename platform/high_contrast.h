#pragma once
// The system's contrast themes (high contrast): whether one is on, and the colours it
// asks programs to draw with. UI thread or any thread; reads system settings only.

#include <windows.h>

#include <array>
#include <optional>

namespace korvel {

// The system's colours by their COLOR_* index, as GetSysColor gives them (0x00BBGGRR).
struct SystemColours {
    std::array<COLORREF, COLOR_HOTLIGHT + 1> by_index{};

    COLORREF operator[](int index) const noexcept { return by_index[static_cast<std::size_t>(index)]; }
};

// The colours of the contrast theme that is on (SPI_GETHIGHCONTRAST), read afresh; nothing
// when none is on or the system cannot say.
std::optional<SystemColours> contrast_theme() noexcept;

}  // namespace korvel
