#include "window/banner.h"

#include "launcher/app_messages.h"
#include "launcher/launcher_app.h"
#include "platform/files.h"
#include "platform/http.h"
#include "window/post_record.h"

#include <memory>
#include <system_error>

namespace korvel {

namespace gp = Gdiplus::DllExports;

namespace {

struct ImageSize {
    UINT width = 0;
    UINT height = 0;
};

// Opens an image file; empty when GDI+ cannot decode it or it has no pixels.
UniqueGdipImage open_image(std::filesystem::path const& path, ImageSize& size) noexcept {
    UniqueGdipImage image;
    if (gp::GdipLoadImageFromFile(path.c_str(), image.put()) != Gdiplus::Ok || !image) return {};
    gp::GdipGetImageWidth(image.get(), &size.width);
    gp::GdipGetImageHeight(image.get(), &size.height);
    if (size.width == 0 || size.height == 0) return {};
    return image;
}

}  // namespace

// The picture is copied into memory and the file released at once, so the banner worker
// can replace the cache file while the window shows it.
bool LauncherApp::load_banner_image(std::filesystem::path const& path) {
    ImageSize size;
    UniqueGdipImage const source = open_image(path, size);
    if (!source) return false;
    UniqueGdipBitmap copy;
    gp::GdipCreateBitmapFromScan0(static_cast<INT>(size.width), static_cast<INT>(size.height), 0,
                                  PixelFormat32bppPARGB, nullptr, copy.put());
    if (!copy) return false;
    Gdiplus::GpStatus drawn = Gdiplus::GenericError;
    {
        UniqueGdipGraphics graphics;
        gp::GdipGetImageGraphicsContext(copy.get(), graphics.put());
        if (graphics)
            drawn = gp::GdipDrawImageRectI(graphics.get(), source.get(), 0, 0, static_cast<INT>(size.width),
                                           static_cast<INT>(size.height));
    }
    if (drawn != Gdiplus::Ok) return false;
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
        ImageSize image_size;
        bool const acceptable = size > 0 && size <= banner_size_limit && open_image(tmp, image_size);
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
