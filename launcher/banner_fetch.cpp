#include "launcher/banner_fetch.h"

#include "core/user_agent.h"
#include "launcher/app_messages.h"
#include "launcher/post_record.h"
#include "platform/files.h"
#include "platform/http.h"
#include "window/picture.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <system_error>

namespace korvel {

bool download_banner(std::string const& banner_url, std::filesystem::path const& banner_cache_path) noexcept {
    std::filesystem::path tmp;
    try {
        tmp = banner_cache_path;
        tmp += L".download";
        // Expected size unknown, but capped while it runs: an endless answer stops just
        // past the limit instead of filling the disk.
        http_download(launcher_user_agent, banner_url, tmp, 0, {}, banner_size_limit);
        std::uint64_t const size = korvel::file_size(tmp);
        // Decoded whole, as the window will: a picture that is too large or stops short
        // never reaches the cache, where it would cost every later start.
        bool const acceptable = size > 0 && size <= banner_size_limit && decode_picture(tmp, banner_probe_area);
        if (acceptable) {
            replace_file(tmp, banner_cache_path);
            return true;
        }
    } catch (...) {
        // Network, HTTP, disk or replace failure: handled like a rejected picture.
    }
    std::error_code ignored;
    if (!tmp.empty()) std::filesystem::remove(tmp, ignored);
    return false;
}

void fetch_banner(HWND hwnd, std::string banner_url, std::filesystem::path banner_cache_path) noexcept {
    try {
        if (download_banner(banner_url, banner_cache_path))
            post_record(hwnd, WM_BANNER_READY, std::make_unique<std::wstring>(banner_cache_path.wstring()));
    } catch (...) {
        // Out of memory for the posted path: the new picture shows at the next start.
    }
}

}  // namespace korvel
