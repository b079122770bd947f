#include "window/banner_image.h"

#include "window/picture.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace korvel {

namespace gp = Gdiplus::DllExports;

// The picture is decoded into memory (bounded by the banner area, see picture.h) and
// the file released at once, so the banner worker can replace the cache file while the
// window shows it.
UniqueGdipBitmap load_banner_bitmap(std::filesystem::path const& path, RECT const& area) {
    PictureSize const bound{static_cast<std::uint32_t>(std::max<LONG>(area.right - area.left, 1)),
                            static_cast<std::uint32_t>(std::max<LONG>(area.bottom - area.top, 1))};
    std::optional<DecodedPicture> const picture = decode_picture(path, bound);
    if (!picture) return {};
    auto const w = static_cast<INT>(picture->size.width);
    auto const h = static_cast<INT>(picture->size.height);
    UniqueGdipBitmap copy;
    gp::GdipCreateBitmapFromScan0(w, h, 0, PixelFormat32bppPARGB, nullptr, copy.put());
    if (!copy) return {};
    Gdiplus::Rect const all(0, 0, w, h);
    Gdiplus::BitmapData data{};
    if (gp::GdipBitmapLockBits(copy.get(), &all, Gdiplus::ImageLockModeWrite, PixelFormat32bppPARGB, &data) !=
        Gdiplus::Ok)
        return {};
    for (INT y = 0; y < h; ++y)
        std::memcpy(static_cast<std::uint8_t*>(data.Scan0) + static_cast<std::ptrdiff_t>(y) * data.Stride,
                    picture->pixels.data() + static_cast<std::size_t>(y) * picture->size.width,
                    static_cast<std::size_t>(w) * 4);
    if (gp::GdipBitmapUnlockBits(copy.get(), &data) != Gdiplus::Ok) return {};
    return copy;
}

}  // namespace korvel
