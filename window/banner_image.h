#pragma once
// The banner as the window draws it: a GDI+ bitmap made from a picture file. UI thread
// (GDI+ must be started).

#include "platform/gdi_handles.h"

#include <windows.h>

#include <filesystem>

namespace korvel {

// The picture in `path`, decoded whole and kept at no more pixels than `area` shows
// (window/picture.h); empty when the file cannot be read or decoded, or declares too
// many pixels. The file is released before this returns.
UniqueGdipBitmap load_banner_bitmap(std::filesystem::path const& path, RECT const& area);

}  // namespace korvel
