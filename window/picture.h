#pragma once
// Decoding of the banner picture, bounded in pixels: the size is taken from the file's
// header before any decoder sees it, and the picture is decoded straight into a bitmap
// no larger than the area it is shown in. Windows Imaging Component only (no GDI+), so
// the banner worker can use it too. Any thread; each call brings up COM for itself when
// the thread has no apartment yet.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace korvel {

// Pictures declaring more pixels than this are refused unread.
inline constexpr std::uint64_t picture_pixel_limit = 16'000'000;

struct PictureSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// 32 bpp premultiplied BGRA (the memory layout of GDI+'s PixelFormat32bppPARGB),
// `width` pixels a row, rows top down.
struct DecodedPicture {
    PictureSize size;
    std::vector<std::uint32_t> pixels;
};

// What the header of a PNG, GIF, JPEG or BMP file declares, read without decoding:
// Fits, TooLarge (over picture_pixel_limit; for a GIF, all its frames together) or
// Broken (cut short or malformed where the header is read, a JPEG without its end
// marker). Other formats are Unknown, and not decoded at all. Decoders may decode the
// whole picture as soon as they are opened, which is why the size is read here first.
enum class HeaderVerdict { Fits, TooLarge, Broken, Unknown };
HeaderVerdict check_picture_header(std::filesystem::path const& path) noexcept;

// The first frame of an image file, decoded completely (every row of it is read, so a
// cut-short file fails), cropped to the part that shows when the picture covers an area
// of `cover` pixels centred, and scaled down to at most `cover` pixels. Empty when the
// file is not a PNG, GIF, JPEG or BMP, cannot be opened or decoded, declares no pixels
// or more than picture_pixel_limit, or stops short.
std::optional<DecodedPicture> decode_picture(std::filesystem::path const& path, PictureSize cover) noexcept;

}  // namespace korvel
