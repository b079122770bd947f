#include "window/banner.h"

#include "launcher/app_messages.h"
#include "launcher/launcher_app.h"
#include "platform/files.h"
#include "platform/http.h"
#include "window/picture.h"
#include "window/post_record.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <system_error>

namespace korvel {

namespace gp = Gdiplus::DllExports;

// The picture is decoded into memory (bounded by the banner area, see picture.h) and
// the file released at once, so the banner worker can replace the cache file while the
// window shows it.
bool LauncherApp::load_banner_image(std::filesystem::path const& path) {
    PictureSize const area{static_cast<std::uint32_t>(std::max<LONG>(banner_rect.right - banner_rect.left, 1)),
                           static_cast<std::uint32_t>(std::max<LONG>(banner_rect.bottom - banner_rect.top, 1))};
    std::optional<DecodedPicture> const picture = decode_picture(path, area);
    if (!picture) return false;
    auto const w = static_cast<INT>(picture->size.width);
    auto const h = static_cast<INT>(picture->size.height);
    UniqueGdipBitmap copy;
    gp::GdipCreateBitmapFromScan0(w, h, 0, PixelFormat32bppPARGB, nullptr, copy.put());
    if (!copy) return false;
    Gdiplus::Rect const all(0, 0, w, h);
    Gdiplus::BitmapData data{};
    if (gp::GdipBitmapLockBits(copy.get(), &all, Gdiplus::ImageLockModeWrite, PixelFormat32bppPARGB, &data) !=
        Gdiplus::Ok)
        return false;
    for (INT y = 0; y < h; ++y)
        std::memcpy(static_cast<std::uint8_t*>(data.Scan0) + static_cast<std::ptrdiff_t>(y) * data.Stride,
                    picture->pixels.data() + static_cast<std::size_t>(y) * picture->size.width,
                    static_cast<std::size_t>(w) * 4);
    if (gp::GdipBitmapUnlockBits(copy.get(), &data) != Gdiplus::Ok) return false;
    banner_bitmap = std::move(copy);
    return true;
}

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
