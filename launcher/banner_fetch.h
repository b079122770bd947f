#pragma once
// The banner picture: the cached copy in UserData, refreshed once per run by a detached
// worker that posts the new file's path to the main window.

#include "window/layout.h"
#include "window/picture.h"

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace korvel {

// Largest banner download accepted (12 MiB); the download stops as soon as it passes it.
inline constexpr std::uint64_t banner_size_limit = 12'582'912;

// The banner area of the window, which the check of a download decodes the picture for.
inline constexpr PictureSize banner_probe_area{layout::width_of(layout::banner), layout::height_of(layout::banner)};

// Asks banner_url whether the cached picture changed (If-None-Match / If-Modified-Since
// from the validator kept beside it in banner_cache_path + ".validator"); a 304 keeps the
// cached picture and returns false. Otherwise downloads it to banner_cache_path +
// ".download", checks that it is a picture
// that decodes completely within the pixel bound (non-empty, at most banner_size_limit
// bytes; see decode_picture) and moves it over banner_cache_path. False on any failure,
// with the ".download" file removed and the cache untouched. Uses no GDI+ (a worker may
// still be in here when the window closes and GDI+ is shut down); any thread.
bool download_banner(std::string const& banner_url, std::filesystem::path const& banner_cache_path) noexcept;

// Worker thread body: download_banner, then WM_BANNER_READY with the path (nothing when
// the download failed or the window is gone). Swallows every error.
void fetch_banner(HWND hwnd, std::string banner_url, std::filesystem::path banner_cache_path) noexcept;

}  // namespace korvel
