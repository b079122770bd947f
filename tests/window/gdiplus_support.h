#pragma once
// GDI+ for the window tests and the screenshot tool: started once per process, pixels
// read back, pictures written as BMP bytes and frames saved as PNG.

#include "platform/gdi_handles.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace korvel::test {

// Starts GDI+ the first time; it stays up until the process ends.
void ensure_gdiplus();

Gdiplus::ARGB pixel(Gdiplus::GpBitmap* bitmap, int x, int y);
// Every pixel of a bitmap, row by row, read in one lock (32 bpp ARGB); empty on failure.
std::vector<Gdiplus::ARGB> all_pixels(Gdiplus::GpBitmap* bitmap);

// A 24-bit bottom-up BMP file of width x height pixels coloured by `colour` (0xRRGGBB),
// with `gap` unused bytes between the headers and the pixels, to reach exact file sizes.
std::string bmp_bytes(int width, int height, std::function<std::uint32_t(int x, int y)> const& colour,
                      std::uint32_t gap = 0);

// Writes a picture file with the system's encoders (WIC), `band` rows at a time so that
// pictures far larger than memory can be made: a PNG of black-and-white pixels (the
// cheapest decompression bomb), or a 24-bit PNG or JPEG coloured by `colour` (0xRRGGBB;
// black when empty). Throws std::runtime_error when an encoder call fails.
enum class PictureFormat { PngOneBit, Png, Jpeg };
void write_picture(std::filesystem::path const& path, PictureFormat format, std::uint32_t width,
                   std::uint32_t height, std::function<std::uint32_t(std::uint32_t x, std::uint32_t y)> const& colour = {});

// Saves with the GDI+ PNG encoder; false when that fails.
bool save_png(Gdiplus::GpImage* image, std::filesystem::path const& path);

}  // namespace korvel::test
