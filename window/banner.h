#pragma once
// The banner picture: the cached copy in UserData, refreshed once per run by a detached
// worker that posts the new file's path to the main window.

#include <windows.h>

#include <filesystem>
#include <string>

namespace korvel {

// Worker thread body: downloads banner_url into banner_cache_path and posts
// WM_BANNER_READY with the path (nothing when the window is gone). Swallows every error.
void fetch_banner(HWND hwnd, std::string banner_url, std::filesystem::path banner_cache_path) noexcept;

}  // namespace korvel
