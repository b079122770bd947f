#pragma once
// Owners for GDI+ flat-API objects, on the same template as the other handles. Kept out
// of unique_handle.h so that only code that draws pulls in the GDI+ headers.

#include "platform/unique_handle.h"

#include <windows.h>
// The GDI+ headers use PROPID and IStream without including what declares them.
#include <objidl.h>
#include <gdiplus.h>

namespace korvel {

inline void dispose_gdip_image(Gdiplus::GpImage* image) noexcept {
    Gdiplus::DllExports::GdipDisposeImage(image);
}
inline void dispose_gdip_bitmap(Gdiplus::GpBitmap* bitmap) noexcept {
    Gdiplus::DllExports::GdipDisposeImage(bitmap);
}

using UniqueGdipImage = UniqueHandle<Gdiplus::GpImage*, NullIsInvalid<Gdiplus::GpImage*, dispose_gdip_image>>;
using UniqueGdipBitmap = UniqueHandle<Gdiplus::GpBitmap*, NullIsInvalid<Gdiplus::GpBitmap*, dispose_gdip_bitmap>>;

}  // namespace korvel
