#include "platform/high_contrast.h"

namespace korvel {

std::optional<SystemColours> contrast_theme() noexcept {
    HIGHCONTRASTW theme{};
    theme.cbSize = sizeof(theme);
    if (!::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(theme), &theme, 0) ||
        (theme.dwFlags & HCF_HIGHCONTRASTON) == 0)
        return std::nullopt;
    SystemColours colours;
    for (std::size_t i = 0; i < colours.by_index.size(); ++i) colours.by_index[i] = ::GetSysColor(static_cast<int>(i));
    return colours;
}

}  // namespace korvel
