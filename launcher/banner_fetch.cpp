#include "launcher/banner_fetch.h"

#include "core/user_agent.h"
#include "launcher/app_messages.h"
#include "launcher/post_record.h"
#include "core/read_file.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/write_whole_file.h"
#include "window/picture.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

namespace korvel {

namespace {

// The validator of the cached copy's answer (an ETag or a Last-Modified date), kept
// beside it so that the next start asks only whether the picture changed.
std::filesystem::path validator_file(std::filesystem::path const& banner_cache_path) {
    std::filesystem::path file = banner_cache_path;
    file += L".validator";
    return file;
}

std::string cached_validator(std::filesystem::path const& banner_cache_path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(banner_cache_path, ec)) return {};
    std::optional<std::string> const text = read_whole_file(validator_file(banner_cache_path));
    if (!text || text->size() > 256) return {};
    // It goes back in a header line: a damaged file must not add headers of its own.
    for (unsigned char c : *text)
        if (c < 0x20 || c > 0x7e) return {};
    return *text;
}

// Without a validator the next start fetches the picture whole again.
void keep_validator(std::filesystem::path const& banner_cache_path, std::string const& validator) noexcept {
    try {
        if (!validator.empty() && write_file_replacing(validator_file(banner_cache_path), validator)) return;
    } catch (std::exception const&) {
    }
    std::error_code ignored;
    std::filesystem::remove(validator_file(banner_cache_path), ignored);
}

}  // namespace

bool download_banner(std::string const& banner_url, std::filesystem::path const& banner_cache_path) noexcept {
    std::filesystem::path tmp;
    try {
        tmp = banner_cache_path;
        tmp += L".download";
        HttpSession http(launcher_user_agent);
        DownloadOptions options;
        // Expected size unknown, but capped while it runs: an endless answer stops just
        // past the limit instead of filling the disk.
        options.size_limit = banner_size_limit;
        options.revalidate = cached_validator(banner_cache_path);
        DownloadResult const result = http_download(http, banner_url, tmp, options);
        if (result.not_modified) return false;  // the cached picture, already shown, stays
        std::uint64_t const size = korvel::file_size(tmp);
        // Decoded whole, as the window will: a picture that is too large or stops short
        // never reaches the cache, where it would cost every later start.
        bool const acceptable = size > 0 && size <= banner_size_limit && decode_picture(tmp, banner_probe_area);
        if (acceptable) {
            replace_file(tmp, banner_cache_path);
            keep_validator(banner_cache_path, result.validator);
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
