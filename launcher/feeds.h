#pragma once
// The news and status feeds: fetched once per run by a detached worker that posts one
// FeedResult to the main window.

#include "window/news_item.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvel {

// Heap-allocated by the worker; owned by the window from WM_FEED_READY on.
struct FeedResult {
    std::vector<NewsItem> items;  // never empty when posted
    bool online = false;
    std::wstring label;
};

// Bounds on what a feed can make the launcher hold: a larger document is handled as
// an unreadable one (its defaults); tags, titles, dates and the status label keep their
// first feed_text_limit characters; a longer link counts as none.
inline constexpr std::uint64_t feed_document_limit = 1 << 20;
inline constexpr std::size_t feed_text_limit = 256;
inline constexpr std::size_t feed_link_limit = 2048;

// Fetches and reads both documents. Every failure of one document falls back to its
// defaults (two built-in news items; an offline "A szerverállapot nem érhető el"
// status); only std::bad_alloc outside the two guards can escape.
FeedResult collect_feeds(std::string const& news_url, std::string const& status_url);

// Worker thread body: fetches both documents and posts WM_FEED_READY to `hwnd` (nothing
// when the window is gone). Swallows every error.
void fetch_feeds(HWND hwnd, std::string news_url, std::string status_url) noexcept;

}  // namespace korvel
