#include "tests/window/gdiplus_support.h"

#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
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

namespace {

// Released when the scope ends; declared in creation order, so released in reverse.
template <typename T>
struct ComRef {
    ComRef() = default;
    ComRef(ComRef const&) = delete;
    ComRef& operator=(ComRef const&) = delete;
    ~ComRef() {
        if (p) p->Release();
    }
    T* operator->() const { return p; }
    T* p = nullptr;
};

void check(HRESULT hr, char const* what) {
    if (FAILED(hr)) throw std::runtime_error(std::string("write_picture: ") + what);
}

}  // namespace

void write_picture(std::filesystem::path const& path, PictureFormat format, std::uint32_t width,
                   std::uint32_t height, std::function<std::uint32_t(std::uint32_t, std::uint32_t)> const& colour) {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // kept for the rest of the thread
    ComRef<IWICImagingFactory> factory;
    ComRef<IWICStream> stream;
    ComRef<IWICBitmapEncoder> encoder;
    ComRef<IWICBitmapFrameEncode> frame;
    ComRef<IPropertyBag2> options;
    bool const one_bit = format == PictureFormat::PngOneBit;
    check(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                             reinterpret_cast<void**>(&factory.p)),
          "factory");
    check(factory->CreateStream(&stream.p), "stream");
    check(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE), "file");
    check(factory->CreateEncoder(format == PictureFormat::Jpeg ? GUID_ContainerFormatJpeg : GUID_ContainerFormatPng,
                                 nullptr, &encoder.p),
          "encoder");
    check(encoder->Initialize(stream.p, WICBitmapEncoderNoCache), "encoder");
    check(encoder->CreateNewFrame(&frame.p, &options.p), "frame");
    check(frame->Initialize(options.p), "frame");
    check(frame->SetSize(width, height), "size");
    WICPixelFormatGUID pixel_format = one_bit ? GUID_WICPixelFormatBlackWhite : GUID_WICPixelFormat24bppBGR;
    check(frame->SetPixelFormat(&pixel_format), "pixel format");
    UINT const stride = one_bit ? (width + 7) / 8 : (width * 3 + 3) & ~3u;
    UINT const band = 64;
    std::vector<BYTE> rows(std::size_t{stride} * band, 0);
    for (UINT y = 0; y < height; y += band) {
        UINT const n = std::min(band, height - y);
        for (UINT r = 0; colour && !one_bit && r < n; ++r)
            for (UINT x = 0; x < width; ++x) {
                std::uint32_t const c = colour(x, y + r);
                BYTE* const p = rows.data() + std::size_t{r} * stride + std::size_t{x} * 3;
                p[0] = static_cast<BYTE>(c);
                p[1] = static_cast<BYTE>(c >> 8);
                p[2] = static_cast<BYTE>(c >> 16);
            }
        check(frame->WritePixels(n, stride, stride * n, rows.data()), "pixels");
    }
    check(frame->Commit(), "commit");
    check(encoder->Commit(), "commit");
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
