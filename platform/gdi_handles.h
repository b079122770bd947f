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

template <typename Object>
void delete_gdi_object(Object object) noexcept {
    ::DeleteObject(object);
}

// A GDI object (region, font, brush) that DeleteObject frees; null is "none".
template <typename Object>
using UniqueGdiObject = UniqueHandle<Object, NullIsInvalid<Object, delete_gdi_object<Object>>>;

// A GDI+ flat-API object: null is "none", and `Delete` is the flat call that frees it
// (a derived object such as a bitmap or a gradient converts to the type the call takes).
template <typename Object, auto Delete>
using UniqueGdip = UniqueHandle<Object*, NullIsInvalid<Object*, Delete>>;

// A window region belongs to the window once SetWindowRgn accepted it: release() then.
using UniqueRegion = UniqueGdiObject<HRGN>;
// A font or brush must not be deleted while a device context still has it selected.
using UniqueFont = UniqueGdiObject<HFONT>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;
using UniqueGdipImage = UniqueGdip<Gdiplus::GpImage, Gdiplus::DllExports::GdipDisposeImage>;
using UniqueGdipBitmap = UniqueGdip<Gdiplus::GpBitmap, Gdiplus::DllExports::GdipDisposeImage>;
// Every GDI+ object below must be released before GdiplusShutdown; drawing code keeps
// them for one frame only.
using UniqueGdipGraphics = UniqueGdip<Gdiplus::GpGraphics, Gdiplus::DllExports::GdipDeleteGraphics>;
// Solid and gradient brushes alike.
using UniqueGdipBrush = UniqueGdip<Gdiplus::GpBrush, Gdiplus::DllExports::GdipDeleteBrush>;
using UniqueGdipPen = UniqueGdip<Gdiplus::GpPen, Gdiplus::DllExports::GdipDeletePen>;
using UniqueGdipPath = UniqueGdip<Gdiplus::GpPath, Gdiplus::DllExports::GdipDeletePath>;
using UniqueGdipFontFamily = UniqueGdip<Gdiplus::GpFontFamily, Gdiplus::DllExports::GdipDeleteFontFamily>;
using UniqueGdipFont = UniqueGdip<Gdiplus::GpFont, Gdiplus::DllExports::GdipDeleteFont>;
using UniqueGdipStringFormat = UniqueGdip<Gdiplus::GpStringFormat, Gdiplus::DllExports::GdipDeleteStringFormat>;

}  // namespace korvel
