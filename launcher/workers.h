#pragma once
// Detached worker threads of the launcher. A worker gets copies of what it needs and
// reports only by posting to the main window; the launcher never waits for one.

#include <windows.h>

#include <functional>

namespace korvel {

struct LauncherSettings;

// Runs `body` on a new detached thread. False when the thread could not be created
// (out of resources): the launcher then carries on without that worker instead of
// ending, and the window keeps showing what it has.
bool start_worker(std::function<void()> body) noexcept;

// The background downloads of start-up: news and status, and the banner when banner_url
// is set, each posting to `hwnd`. UI thread, once, after the window is shown.
void start_fetchers(HWND hwnd, LauncherSettings const& settings);

}  // namespace korvel
