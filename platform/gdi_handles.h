#pragma once
// Owners for GDI objects and GDI+ flat-API objects, on the same template as the other
// handles. Kept out of unique_handle.h so that only code that draws pulls in the GDI+
// headers and links gdi32 and gdiplus.

#include "platform/unique_handle.h"

#include <windows.h>
// The GDI+ headers use PROPID and IStream without including what declares them.
#include <objidl.h>
#include <gdiplus.h>

namespace korvel {

inline void delete_region(HRGN region) noexcept {
    ::DeleteObject(region);
}
inline void dispose_gdip_image(Gdiplus::GpImage* image) noexcept {
    Gdiplus::DllExports::GdipDisposeImage(image);
}
inline void dispose_gdip_bitmap(Gdiplus::GpBitmap* bitmap) noexcept {
    Gdiplus::DllExports::GdipDisposeImage(bitmap);
}

inline void delete_gdip_graphics(Gdiplus::GpGraphics* graphics) noexcept {
    Gdiplus::DllExports::GdipDeleteGraphics(graphics);
}
inline void delete_gdip_brush(Gdiplus::GpBrush* brush) noexcept {
    Gdiplus::DllExports::GdipDeleteBrush(brush);
}
inline void delete_gdip_pen(Gdiplus::GpPen* pen) noexcept {
    Gdiplus::DllExports::GdipDeletePen(pen);
}
inline void delete_gdip_path(Gdiplus::GpPath* path) noexcept {
    Gdiplus::DllExports::GdipDeletePath(path);
}
inline void delete_gdip_font_family(Gdiplus::GpFontFamily* family) noexcept {
    Gdiplus::DllExports::GdipDeleteFontFamily(family);
}
inline void delete_gdip_font(Gdiplus::GpFont* font) noexcept {
    Gdiplus::DllExports::GdipDeleteFont(font);
}
inline void delete_gdip_string_format(Gdiplus::GpStringFormat* format) noexcept {
    Gdiplus::DllExports::GdipDeleteStringFormat(format);
}

// A window region belongs to the window once SetWindowRgn accepted it: release() then.
using UniqueRegion = UniqueHandle<HRGN, NullIsInvalid<HRGN, delete_region>>;
using UniqueGdipImage = UniqueHandle<Gdiplus::GpImage*, NullIsInvalid<Gdiplus::GpImage*, dispose_gdip_image>>;
using UniqueGdipBitmap = UniqueHandle<Gdiplus::GpBitmap*, NullIsInvalid<Gdiplus::GpBitmap*, dispose_gdip_bitmap>>;
// Every GDI+ object below must be released before GdiplusShutdown; drawing code keeps
// them for one frame only.
using UniqueGdipGraphics = UniqueHandle<Gdiplus::GpGraphics*, NullIsInvalid<Gdiplus::GpGraphics*, delete_gdip_graphics>>;
// Solid and gradient brushes alike.
using UniqueGdipBrush = UniqueHandle<Gdiplus::GpBrush*, NullIsInvalid<Gdiplus::GpBrush*, delete_gdip_brush>>;
using UniqueGdipPen = UniqueHandle<Gdiplus::GpPen*, NullIsInvalid<Gdiplus::GpPen*, delete_gdip_pen>>;
using UniqueGdipPath = UniqueHandle<Gdiplus::GpPath*, NullIsInvalid<Gdiplus::GpPath*, delete_gdip_path>>;
using UniqueGdipFontFamily =
    UniqueHandle<Gdiplus::GpFontFamily*, NullIsInvalid<Gdiplus::GpFontFamily*, delete_gdip_font_family>>;
using UniqueGdipFont = UniqueHandle<Gdiplus::GpFont*, NullIsInvalid<Gdiplus::GpFont*, delete_gdip_font>>;
using UniqueGdipStringFormat =
    UniqueHandle<Gdiplus::GpStringFormat*, NullIsInvalid<Gdiplus::GpStringFormat*, delete_gdip_string_format>>;

}  // namespace korvel
