#pragma once
// What the launcher, the patcher, the window's workers and korvel-publish send as
// User-Agent, so that servers answering by agent give every one of them the same files.
// platform/http.h holds it wide for WinHTTP and checks that the two agree.

namespace korvel {

inline constexpr char launcher_user_agent_text[] = "KorvelLauncher/2.1";

}  // namespace korvel
