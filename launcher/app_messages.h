#pragma once
// Messages that worker threads post to the main window. Each carries a heap record in its
// last parameter whose ownership passes to the window with the message.

#include <windows.h>

namespace korvel {

inline constexpr UINT WM_PATCH_PROGRESS = WM_APP + 10;  // PatchProgress copy
inline constexpr UINT WM_PATCH_DONE = WM_APP + 11;      // PatchOutcome
inline constexpr UINT WM_FEED_READY = WM_APP + 12;      // FeedResult
inline constexpr UINT WM_BANNER_READY = WM_APP + 13;    // std::wstring: path of the new banner
// Posted by the window itself, no record: a screen reader's default action on the button
// whose ButtonId is in wParam.
inline constexpr UINT WM_ACCESSIBLE_PRESS = WM_APP + 14;

}  // namespace korvel
