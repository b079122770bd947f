#pragma once
// A small synchronous HTTP(S) client over WinHTTP: plain GETs, each call with its own
// session, connection and request, all closed before it returns or throws. No retries,
// no cache, no cookies; callers decide what to retry. Any thread.

#include "core/url_encode.h"
#include "core/user_agent.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace korvel {

struct ParsedUrl {
    std::wstring host;
    std::wstring path;  // path + query/fragment as written; "/" when empty
    std::uint16_t port = 0;
    bool secure = false;
};

// (bytes received so far, bytes expected or 0 when unknown); may be empty.
using DownloadProgressFn = std::function<void(std::uint64_t, std::uint64_t)>;

// What the launcher, the patcher and the window's workers send as User-Agent.
inline constexpr wchar_t launcher_user_agent[] = L"KorvelLauncher/2.1";
static_assert(std::wstring_view(launcher_user_agent).size() == std::string_view(launcher_user_agent_text).size() &&
                  [] {
                      for (std::size_t i = 0; launcher_user_agent_text[i]; ++i)
                          if (launcher_user_agent[i] != static_cast<wchar_t>(launcher_user_agent_text[i])) return false;
                      return true;
                  }(),
              "the wide user agent must spell core/user_agent.h's");

// Throws "Invalid URL: " + url, or the UTF-8 conversion error.
ParsedUrl parse_url(std::string const& url);

// Bodies of http_get beyond this many bytes are refused: the documents it fetches are
// small, and a broken or hostile server must not be able to exhaust the player's memory.
inline constexpr std::uint64_t http_get_max_body = 128ull << 20;

// The whole body in memory (raw bytes). Sends no-cache headers. Throws on any failure,
// on a status outside 200..299 ("HTTP " + status + ": " + url), on a body shorter than
// its Content-Length and on a body larger than `max_body` (at most http_get_max_body),
// as soon as it is announced or received.
std::string http_get(std::wstring const& user_agent, std::string const& url,
                     std::uint64_t max_body = http_get_max_body);

// Streams the body into `destination` (created or truncated; never deleted on failure).
// A non-zero `expected_size` is enforced ("Downloaded size mismatch: ..."), and the
// transfer stops as soon as the body grows past it. A body shorter than its
// Content-Length fails too. A non-2xx answer creates no file.
// `size_limit`, when given, is a hard cap independent of `expected_size` (where 0 means
// "unknown"): the transfer stops as soon as the body passes it ("Download larger than N
// bytes: " + destination), so even a limit of 0 accepts no body byte.
void http_download(std::wstring const& user_agent, std::string const& url, std::filesystem::path const& destination,
                   std::uint64_t expected_size, DownloadProgressFn const& on_progress,
                   std::optional<std::uint64_t> size_limit = std::nullopt);

// Throws "Cannot read HTTP status" (with the Win32 code) or, for any status outside
// 200..299, "HTTP " + status + ": " + url. `request` has received its response.
void check_http_status(HINTERNET request, std::string const& url);

}  // namespace korvel
