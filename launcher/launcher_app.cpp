#include "launcher/launcher_app.h"

#include "window/banner_image.h"
#include "window/layout.h"
#include "window/render.h"

namespace korvel {

LauncherApp::LauncherApp(HINSTANCE instance) : instance(instance) {}

LauncherApp::~LauncherApp() {
    // The bitmap is a GDI+ object: it must go before GDI+ itself. No worker thread uses
    // GDI+ (the banner worker checks its download with WIC, window/picture.h), so
    // GDI+ can go while a worker is still running, as at an early close.
    banner_bitmap.reset();
    if (gdiplus_token != 0) Gdiplus::GdiplusShutdown(gdiplus_token);
}

std::filesystem::path LauncherApp::resolve_path(std::filesystem::path const& path) const {
    return resolve_against(base_dir, path);
}

void LauncherApp::paint_window() {
    korvel::paint_window(hwnd, *this);
}

bool LauncherApp::load_banner_image(std::filesystem::path const& path) {
    UniqueGdipBitmap bitmap = load_banner_bitmap(path, scale.px(layout::banner));
    if (!bitmap) return false;
    banner_bitmap = std::move(bitmap);
    banner_source = path;
    return true;
}

}  // namespace korvel
