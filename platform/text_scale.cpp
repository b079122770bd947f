#include "platform/text_scale.h"

#include <algorithm>

namespace korvel {

float text_scale_from_percent(DWORD percent) noexcept {
    return static_cast<float>(std::clamp<DWORD>(percent, 100, 225)) / 100.0f;
}

float text_scale_factor() noexcept {
    DWORD percent = 0;
    DWORD size = sizeof(percent);
    if (::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Accessibility", L"TextScaleFactor", RRF_RT_REG_DWORD,
                       nullptr, &percent, &size) != ERROR_SUCCESS)
        return 1.0f;
    return text_scale_from_percent(percent);
}

}  // namespace korvel
