#pragma once
// What the launcher, the patcher, the window's workers and korvel-publish send as
// User-Agent, so that servers answering by agent give every one of them the same files:
// "KorvelLauncher/" and the launcher's major and minor version.

#include "core/version.h"

namespace korvel {

inline constexpr char launcher_user_agent_text[] = "KorvelLauncher/" KORVEL_VERSION_SHORT_TEXT;
// The same for WinHTTP.
inline constexpr wchar_t launcher_user_agent[] = L"KorvelLauncher/" KORVEL_VERSION_SHORT_TEXT;

}  // namespace korvel
