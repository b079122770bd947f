#pragma once
// The system's text size ("Make text bigger" in the accessibility settings): the factor,
// 1 to 2.25, by which a program's texts should grow. Any thread; reads the registry only.

#include <windows.h>

namespace korvel {

// The factor for the percentage the system stores: 100 to 225 as 1 to 2.25, values outside
// that range clamped to it.
float text_scale_from_percent(DWORD percent) noexcept;

// The current factor, read afresh from HKCU\Software\Microsoft\Accessibility,
// TextScaleFactor (a DWORD percentage, which the setting writes and WM_SETTINGCHANGE
// announces); 1 when the value is missing or not a DWORD.
float text_scale_factor() noexcept;

}  // namespace korvel
