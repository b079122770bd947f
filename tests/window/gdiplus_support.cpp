#include "tests/window/gdiplus_support.h"

#include <cstring>
#include <vector>

namespace korvel::test {

namespace gp = Gdiplus::DllExports;

void ensure_gdiplus() {
    static ULONG_PTR const token = [] {
        ULONG_PTR t = 0;
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&t, &input, nullptr);
        return t;
    }();
    (void)token;
}

Gdiplus::ARGB pixel(Gdiplus::GpBitmap* bitmap, int x, int y) {
    Gdiplus::ARGB colour = 0;
    gp::GdipBitmapGetPixel(bitmap, x, y, &colour);
    return colour;
}

std::string bmp_bytes(int width, int height, std::function<std::uint32_t(int, int)> const& colour,
                      std::uint32_t gap) {
    std::uint32_t const stride = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
    std::uint32_t const offset = 54 + gap;
    std::string out(offset + stride * static_cast<std::uint32_t>(height), '\0');
    auto put = [&](std::size_t at, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<char>(value >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put(2, static_cast<std::uint32_t>(out.size()), 4);
    put(10, offset, 4);
    put(14, 40, 4);
    put(18, static_cast<std::uint32_t>(width), 4);
    put(22, static_cast<std::uint32_t>(height), 4);
    put(26, 1, 2);
    put(28, 24, 2);
    for (int y = 0; y < height; ++y) {
        std::size_t const row = offset + stride * static_cast<std::uint32_t>(height - 1 - y);
        for (int x = 0; x < width; ++x) put(row + 3 * static_cast<std::size_t>(x), colour(x, y), 3);
    }
    return out;
}

bool save_png(Gdiplus::GpImage* image, std::filesystem::path const& path) {
    UINT count = 0, size = 0;
    if (gp::GdipGetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
    std::vector<unsigned char> buffer(size);
    auto* const codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (gp::GdipGetImageEncoders(count, size, codecs) != Gdiplus::Ok) return false;
    for (UINT i = 0; i < count; ++i) {
        if (std::wcscmp(codecs[i].MimeType, L"image/png") == 0)
            return gp::GdipSaveImageToFile(image, path.c_str(), &codecs[i].Clsid, nullptr) == Gdiplus::Ok;
    }
    return false;
}

}  // namespace korvel::test
