#include "window/picture.h"

#include "platform/com_apartment.h"
#include "platform/unique_handle.h"

#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>

namespace korvel {

namespace {

// ---- Headers ---------------------------------------------------------------------

// Reads through a window of 64 KiB: a GIF is walked a few bytes at a time, and a
// hostile one may hold millions of tiny blocks.
class FileBytes {
public:
    explicit FileBytes(std::filesystem::path const& path) : in_(path, std::ios::binary) {
        if (in_) {
            in_.seekg(0, std::ios::end);
            size_ = static_cast<std::uint64_t>(in_.tellg());
        }
    }

    bool ok() const { return static_cast<bool>(in_); }
    std::uint64_t size() const { return size_; }

    // `n` bytes from `offset`; false when the file ends first.
    bool read(std::uint64_t offset, void* out, std::size_t n) {
        if (offset > size_ || size_ - offset < n) return false;
        if (offset < window_at_ || offset + n > window_at_ + window_.size()) {
            window_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(std::max<std::size_t>(n, 1 << 16),
                                                                             size_ - offset)));
            in_.clear();
            in_.seekg(static_cast<std::streamoff>(offset));
            if (!in_.read(window_.data(), static_cast<std::streamsize>(window_.size()))) return false;
            window_at_ = offset;
        }
        std::copy_n(window_.data() + (offset - window_at_), n, static_cast<char*>(out));
        return true;
    }
    bool byte(std::uint64_t offset, std::uint8_t& out) { return read(offset, &out, 1); }

private:
    std::ifstream in_;
    std::uint64_t size_ = 0;
    std::vector<char> window_;
    std::uint64_t window_at_ = 0;
};

std::uint32_t be16(std::uint8_t const* p) { return (p[0] << 8) | p[1]; }
std::uint32_t be32(std::uint8_t const* p) { return (be16(p) << 16) | be16(p + 2); }
std::uint32_t le16(std::uint8_t const* p) { return p[0] | (p[1] << 8); }
std::uint32_t le32(std::uint8_t const* p) { return le16(p) | (le16(p + 2) << 16); }

HeaderVerdict verdict_for(std::uint64_t width, std::uint64_t height) {
    if (width == 0 || height == 0) return HeaderVerdict::Broken;
    return width * height > picture_pixel_limit ? HeaderVerdict::TooLarge : HeaderVerdict::Fits;
}

// The IHDR chunk always comes first.
HeaderVerdict png_header(FileBytes& file) {
    std::uint8_t h[24];
    if (!file.read(0, h, sizeof h) || std::string(reinterpret_cast<char*>(h + 12), 4) != "IHDR")
        return HeaderVerdict::Broken;
    return verdict_for(be32(h + 16), be32(h + 20));
}

// Walks every block: decoders may expand all frames at once, so the logical screen and
// the frames together are what a GIF costs. A file that stops before its trailer is
// cut short.
HeaderVerdict gif_header(FileBytes& file) {
    std::uint8_t screen[13];
    if (!file.read(0, screen, sizeof screen)) return HeaderVerdict::Broken;
    std::uint64_t total = std::uint64_t{le16(screen + 6)} * le16(screen + 8);
    HeaderVerdict verdict = verdict_for(le16(screen + 6), le16(screen + 8));
    auto const colour_table = [](std::uint8_t flags) { return flags & 0x80 ? 3u << ((flags & 7) + 1) : 0u; };
    std::uint64_t at = sizeof screen + colour_table(screen[10]);
    auto const skip_sub_blocks = [&] {
        for (std::uint8_t n = 0;; at += n) {
            if (!file.byte(at++, n)) return false;
            if (n == 0) return true;
        }
    };
    for (;;) {
        if (verdict != HeaderVerdict::Fits) return verdict;
        std::uint8_t kind = 0;
        if (!file.byte(at++, kind)) return HeaderVerdict::Broken;
        if (kind == 0x3B) return HeaderVerdict::Fits;
        if (kind == 0x21) {
            std::uint8_t label = 0;
            if (!file.byte(at++, label) || !skip_sub_blocks()) return HeaderVerdict::Broken;
        } else if (kind == 0x2C) {
            std::uint8_t d[9];  // position, size, flags; after them the colour table and the LZW code size
            if (!file.read(at, d, sizeof d)) return HeaderVerdict::Broken;
            at += sizeof d + colour_table(d[8]) + 1;
            total += std::uint64_t{le16(d + 4)} * le16(d + 6);
            verdict = verdict_for(le16(d + 4), le16(d + 6));
            if (verdict == HeaderVerdict::Fits && total > picture_pixel_limit) verdict = HeaderVerdict::TooLarge;
            if (!skip_sub_blocks()) return HeaderVerdict::Broken;
        } else {
            return HeaderVerdict::Broken;
        }
    }
}

// The size is in the first start-of-frame segment; a whole file ends with the end
// marker, which entropy-coded data cannot contain (0xFF is stuffed there). Some files
// carry a few bytes after it, hence the search in the last 4 KiB.
HeaderVerdict jpeg_header(FileBytes& file) {
    std::uint64_t at = 2;
    HeaderVerdict verdict = HeaderVerdict::Broken;
    for (;;) {
        std::uint8_t m = 0;
        if (!file.byte(at++, m) || m != 0xFF) return HeaderVerdict::Broken;
        while (m == 0xFF)
            if (!file.byte(at++, m)) return HeaderVerdict::Broken;
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD8)) continue;  // markers without a length
        std::uint8_t segment[7];
        if (m == 0xD9 || !file.read(at, segment, sizeof segment) || be16(segment) < 2) return HeaderVerdict::Broken;
        if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
            verdict = verdict_for(be16(segment + 5), be16(segment + 3));
            break;
        }
        at += be16(segment);
    }
    if (verdict != HeaderVerdict::Fits) return verdict;
    std::uint64_t const tail_size = std::min<std::uint64_t>(file.size(), 4096);
    std::string tail(tail_size, '\0');
    if (!file.read(file.size() - tail_size, tail.data(), tail.size())) return HeaderVerdict::Broken;
    return tail.find("\xFF\xD9") != std::string::npos ? HeaderVerdict::Fits : HeaderVerdict::Broken;
}

// Uncompressed rows have a known size: a file shorter than they need is cut short.
HeaderVerdict bmp_header(FileBytes& file) {
    std::uint8_t h[34];
    if (!file.read(0, h, 26)) return HeaderVerdict::Broken;
    std::uint32_t const pixels_at = le32(h + 10);
    if (le32(h + 14) == 12) return verdict_for(le16(h + 18), le16(h + 20));  // the old OS/2 header
    if (!file.read(0, h, sizeof h)) return HeaderVerdict::Broken;
    auto const width = static_cast<std::int32_t>(le32(h + 18));
    auto const height = static_cast<std::int32_t>(le32(h + 22));
    if (width <= 0 || height == 0 || height == INT32_MIN) return HeaderVerdict::Broken;
    std::uint64_t const rows = static_cast<std::uint64_t>(height < 0 ? -std::int64_t{height} : height);
    HeaderVerdict const verdict = verdict_for(static_cast<std::uint64_t>(width), rows);
    std::uint32_t const bits = le16(h + 28);
    std::uint32_t const compression = le32(h + 30);
    bool const plain_rows = compression == 0 || compression == 3;  // BI_RGB, BI_BITFIELDS
    if (verdict == HeaderVerdict::Fits && plain_rows) {
        std::uint64_t const stride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
        if (file.size() < pixels_at || file.size() - pixels_at < stride * rows) return HeaderVerdict::Broken;
    }
    return verdict;
}

// ---- Decoding ----------------------------------------------------------------------

template <typename T>
void release_com(T* object) noexcept {
    object->Release();
}
template <typename T>
using ComOwner = UniqueHandle<T*, NullIsInvalid<T*, release_com<T>>>;

// The part of a width x height picture that shows when it covers `cover` centred
// (scaled by s = the larger of the two ratios, overflow cut equally on both sides),
// and the size it is kept at: that part's own pixels, but never more than `cover`.
struct Layout {
    std::uint32_t crop_x, crop_y, crop_w, crop_h;
    std::uint32_t out_w, out_h;
};

Layout layout_for(PictureSize size, PictureSize cover) {
    double const s = std::max(static_cast<double>(cover.width) / size.width,
                              static_cast<double>(cover.height) / size.height);
    auto const visible = [s](std::uint32_t whole, std::uint32_t shown) {
        return std::clamp<std::uint32_t>(static_cast<std::uint32_t>(std::ceil(shown / s)), 1, whole);
    };
    Layout l{};
    l.crop_w = visible(size.width, cover.width);
    l.crop_h = visible(size.height, cover.height);
    l.crop_x = (size.width - l.crop_w) / 2;
    l.crop_y = (size.height - l.crop_h) / 2;
    l.out_w = std::clamp<std::uint32_t>(l.crop_w, 1, std::max<std::uint32_t>(cover.width, 1));
    l.out_h = std::clamp<std::uint32_t>(l.crop_h, 1, std::max<std::uint32_t>(cover.height, 1));
    return l;
}

// Reads every row of `source` in bands (a decoder that stops short fails here; only the
// cropped columns are copied, but a decoder produces whole rows) and averages the
// cropped part into the output, box by box. Bands keep memory at a few rows whatever
// the picture's size; the system's scaler was seen to buffer the whole source.
std::optional<DecodedPicture> read_scaled(IWICBitmapSource* source, PictureSize size, Layout const& l) {
    DecodedPicture out;
    out.size = {l.out_w, l.out_h};
    out.pixels.resize(std::size_t{l.out_w} * l.out_h);

    std::vector<std::uint32_t> column_of(l.crop_w);
    std::vector<std::uint32_t> columns_in(l.out_w, 0);
    for (std::uint32_t x = 0; x < l.crop_w; ++x) {
        column_of[x] = static_cast<std::uint32_t>(std::uint64_t{x} * l.out_w / l.crop_w);
        ++columns_in[column_of[x]];
    }
    std::vector<std::uint32_t> sums(std::size_t{l.out_w} * 4, 0);
    std::uint32_t rows_in = 0;
    std::uint32_t out_row = 0;
    auto const flush = [&] {
        for (std::uint32_t x = 0; x < l.out_w; ++x) {
            std::uint32_t const n = columns_in[x] * rows_in;
            std::uint32_t pixel = 0;
            for (int c = 0; c < 4; ++c) pixel |= ((sums[x * 4 + c] + n / 2) / n) << (8 * c);
            out.pixels[std::size_t{out_row} * l.out_w + x] = pixel;
        }
        std::fill(sums.begin(), sums.end(), 0);
        rows_in = 0;
    };

    UINT const stride = l.crop_w * 4;
    UINT const band = std::max<UINT>(1, (1u << 20) / stride);
    std::vector<std::uint8_t> rows(std::size_t{stride} * band);
    for (UINT y = 0; y < size.height; y += band) {
        UINT const n = std::min(band, size.height - y);
        WICRect const rect{static_cast<INT>(l.crop_x), static_cast<INT>(y), static_cast<INT>(l.crop_w),
                           static_cast<INT>(n)};
        if (FAILED(source->CopyPixels(&rect, stride, stride * n, rows.data()))) return std::nullopt;
        for (UINT r = 0; r < n; ++r) {
            std::uint32_t const sy = y + r;
            if (sy < l.crop_y || sy >= l.crop_y + l.crop_h) continue;
            auto const target = static_cast<std::uint32_t>(std::uint64_t{sy - l.crop_y} * l.out_h / l.crop_h);
            if (target != out_row && rows_in > 0) flush();
            out_row = target;
            ++rows_in;
            std::uint8_t const* p = rows.data() + std::size_t{r} * stride;
            for (std::uint32_t x = 0; x < l.crop_w; ++x, p += 4)
                for (int c = 0; c < 4; ++c) sums[column_of[x] * 4 + c] += p[c];
        }
    }
    if (rows_in > 0) flush();
    return out;
}

}  // namespace

HeaderVerdict check_picture_header(std::filesystem::path const& path) noexcept {
    try {
        FileBytes file(path);
        std::uint8_t magic[8] = {};
        if (!file.ok() || !file.read(0, magic, std::min<std::uint64_t>(file.size(), sizeof magic)))
            return HeaderVerdict::Broken;
        std::string const m(reinterpret_cast<char*>(magic), sizeof magic);
        if (m == "\x89PNG\r\n\x1a\n") return png_header(file);
        if (m.compare(0, 6, "GIF87a") == 0 || m.compare(0, 6, "GIF89a") == 0) return gif_header(file);
        if (m.compare(0, 3, "\xFF\xD8\xFF") == 0) return jpeg_header(file);
        if (m.compare(0, 2, "BM") == 0) return bmp_header(file);
        return HeaderVerdict::Unknown;
    } catch (...) {
        return HeaderVerdict::Broken;
    }
}

std::optional<DecodedPicture> decode_picture(std::filesystem::path const& path, PictureSize cover) noexcept {
    try {
        // Only a picture whose size was read first reaches a decoder: another format's
        // decoder may expand the whole picture as its frame is fetched (an icon can hold
        // a PNG of any size), before its size could be asked.
        if (check_picture_header(path) != HeaderVerdict::Fits) return std::nullopt;

        // COM for this call when the thread has none yet; a thread that already has an
        // apartment (the window thread's) keeps it.
        ComApartment const com(COINIT_MULTITHREADED);
        ComOwner<IWICImagingFactory> factory;
        if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, reinterpret_cast<void**>(factory.put()))))
            return std::nullopt;
        // The decoder holds the file open; it is released before this returns.
        ComOwner<IWICBitmapDecoder> decoder;
        ComOwner<IWICBitmapFrameDecode> frame;
        PictureSize size;
        if (FAILED(factory.get()->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                            WICDecodeMetadataCacheOnDemand, decoder.put())) ||
            FAILED(decoder.get()->GetFrame(0, frame.put())) || FAILED(frame.get()->GetSize(&size.width, &size.height)))
            return std::nullopt;
        // The decoder's own reading of the size must agree with the header's.
        if (verdict_for(size.width, size.height) != HeaderVerdict::Fits) return std::nullopt;

        ComOwner<IWICFormatConverter> converter;
        if (FAILED(factory.get()->CreateFormatConverter(converter.put())) ||
            FAILED(converter.get()->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone,
                                               nullptr, 0, WICBitmapPaletteTypeCustom)))
            return std::nullopt;
        return read_scaled(converter.get(), size, layout_for(size, cover));
    } catch (...) {
        // Out of memory for the rows or the output: no picture.
        return std::nullopt;
    }
}

}  // namespace korvel
