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

// A window region belongs to the window once SetWindowRgn accepted it: release() then.
using UniqueRegion = UniqueHandle<HRGN, NullIsInvalid<HRGN, delete_region>>;
using UniqueGdipImage = UniqueHandle<Gdiplus::GpImage*, NullIsInvalid<Gdiplus::GpImage*, dispose_gdip_image>>;
using UniqueGdipBitmap = UniqueHandle<Gdiplus::GpBitmap*, NullIsInvalid<Gdiplus::GpBitmap*, dispose_gdip_bitmap>>;

}  // namespace korvel
