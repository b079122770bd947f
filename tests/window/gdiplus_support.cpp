#include "tests/window/gdiplus_support.h"

#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
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

std::vector<Gdiplus::ARGB> all_pixels(Gdiplus::GpBitmap* bitmap) {
    UINT width = 0, height = 0;
    gp::GdipGetImageWidth(bitmap, &width);
    gp::GdipGetImageHeight(bitmap, &height);
    std::vector<Gdiplus::ARGB> pixels(std::size_t{width} * height);
    Gdiplus::Rect const all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    Gdiplus::BitmapData data{};
    data.Width = width, data.Height = height, data.Stride = static_cast<INT>(width * 4), data.Scan0 = pixels.data();
    if (pixels.empty() || gp::GdipBitmapLockBits(bitmap, &all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                                                 PixelFormat32bppARGB, &data) != Gdiplus::Ok)
        return {};
    gp::GdipBitmapUnlockBits(bitmap, &data);
    return pixels;
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

void write_picture(std::filesystem::path const& path, PictureFormat format, std::uint32_t width,
                   std::uint32_t height, std::function<std::uint32_t(std::uint32_t, std::uint32_t)> const& colour) {
    auto check = [](HRESULT hr) {
        if (FAILED(hr)) throw std::runtime_error("write_picture failed: " + std::to_string(hr));
    };
    struct Release {
        void operator()(IUnknown* object) const { object->Release(); }
    };
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // kept for the rest of the thread
    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* options = nullptr;
    check(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                             reinterpret_cast<void**>(&factory)));
    std::unique_ptr<IUnknown, Release> const factory_owner(factory);  // released last
    check(factory->CreateStream(&stream));
    std::unique_ptr<IUnknown, Release> const stream_owner(stream);
    check(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE));
    check(factory->CreateEncoder(format == PictureFormat::Jpeg ? GUID_ContainerFormatJpeg : GUID_ContainerFormatPng,
                                 nullptr, &encoder));
    std::unique_ptr<IUnknown, Release> const encoder_owner(encoder);
    check(encoder->Initialize(stream, WICBitmapEncoderNoCache));
    check(encoder->CreateNewFrame(&frame, &options));
    std::unique_ptr<IUnknown, Release> const frame_owner(frame), options_owner(options);
    check(frame->Initialize(options));
    check(frame->SetSize(width, height));
    bool const one_bit = format == PictureFormat::PngOneBit;
    WICPixelFormatGUID pixel_format = one_bit ? GUID_WICPixelFormatBlackWhite : GUID_WICPixelFormat24bppBGR;
    check(frame->SetPixelFormat(&pixel_format));
    UINT const stride = one_bit ? (width + 7) / 8 : (width * 3 + 3) & ~3u;
    std::vector<BYTE> rows(std::size_t{stride} * 64, 0);
    for (UINT y = 0; y < height; y += 64) {
        UINT const n = std::min(64u, height - y);
        for (UINT r = 0; colour && !one_bit && r < n; ++r)
            for (UINT x = 0; x < width; ++x)
                for (std::uint32_t c = colour(x, y + r), i = 0; i < 3; ++i)
                    rows[std::size_t{r} * stride + std::size_t{x} * 3 + i] = static_cast<BYTE>(c >> (8 * i));
        check(frame->WritePixels(n, stride, stride * n, rows.data()));
    }
    check(frame->Commit());
    check(encoder->Commit());
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
