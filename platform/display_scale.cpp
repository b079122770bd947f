#include "platform/display_scale.h"

namespace korvel {

namespace {

UINT system_dpi() noexcept {
    HDC const screen = ::GetDC(nullptr);
    int const dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : k_design_dpi;
}

}  // namespace

UINT window_dpi(HWND hwnd) noexcept {
    // Looked up rather than imported: an import the system lacks would stop the program
    // from starting at all on an older Windows.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static auto const get_dpi_for_window = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    UINT const dpi = get_dpi_for_window && hwnd ? get_dpi_for_window(hwnd) : 0;
    return dpi != 0 ? dpi : system_dpi();
}

}  // namespace korvel
