#include "launcher/main_window.h"

#include "launcher/launcher_app.h"
#include "launcher/window_controller.h"
#include "launcher/window_placement.h"
#include "platform/gdi_handles.h"
#include "window/layout.h"

#include <dwmapi.h>

#include <optional>

namespace korvel {

namespace {

LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* const create = reinterpret_cast<CREATESTRUCTW const*>(lparam);
        auto* const app = static_cast<LauncherApp*>(create->lpCreateParams);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(app));
        if (app) app->hwnd = hwnd;
        return ::DefWindowProcW(hwnd, message, wparam, lparam);
    }
    auto* const app = reinterpret_cast<LauncherApp*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!app) return ::DefWindowProcW(hwnd, message, wparam, lparam);
    // An exception must not unwind through the system's dispatch code.
    try {
        return handle_message(*app, hwnd, message, wparam, lparam);
    } catch (...) {
        return ::DefWindowProcW(hwnd, message, wparam, lparam);
    }
}

SIZE const k_design_size{layout::window_width, layout::window_height};

// The monitor's screen without the taskbar.
RECT work_area_of(HMONITOR monitor) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (::GetMonitorInfoW(monitor, &info)) return info.rcWork;
    return {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
}

}  // namespace

void shape_main_window(HWND hwnd, DisplayScale scale) {
    // Windows 11 rounds the frame itself when asked; older systems and Wine ignore it.
    DWORD const corner_preference = 2;  // DWMWCP_ROUND
    ::DwmSetWindowAttribute(hwnd, 33 /* DWMWA_WINDOW_CORNER_PREFERENCE */, &corner_preference,
                            sizeof(corner_preference));

    // The region's right and bottom edges are exclusive, hence one more than the size.
    SIZE const size{scale.px(k_design_size.cx), scale.px(k_design_size.cy)};
    int const corner = scale.px(18);
    UniqueRegion region(::CreateRoundRectRgn(0, 0, size.cx + 1, size.cy + 1, corner, corner));
    if (region && ::SetWindowRgn(hwnd, region.get(), TRUE)) region.release();  // now the window's
}

DWORD register_main_window_class(HINSTANCE instance) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = instance;
    window_class.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(101));
    window_class.hIconSm = window_class.hIcon;
    window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    window_class.lpszClassName = k_main_window_class;
    if (::RegisterClassExW(&window_class)) return ERROR_SUCCESS;
    DWORD const error = ::GetLastError();
    if (error == ERROR_CLASS_ALREADY_EXISTS) return ERROR_SUCCESS;
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

void fit_main_window(LauncherApp& app, HWND hwnd, UINT monitor_dpi, RECT const& frame, bool centre) {
    RECT const work_area = work_area_of(::MonitorFromRect(&frame, MONITOR_DEFAULTTONEAREST));
    std::optional<POINT> const from = centre ? std::nullopt : std::optional(POINT{frame.left, frame.top});
    WindowPlacement const placement =
        place_window(k_design_size, DisplayScale{monitor_dpi != 0 ? monitor_dpi : k_design_dpi}, work_area, from);
    bool const rescaled = placement.scale != app.window.scale;
    app.window.scale = placement.scale;
    RECT const& to = placement.frame;
    ::SetWindowPos(hwnd, nullptr, to.left, to.top, to.right - to.left, to.bottom - to.top, SWP_NOZORDER | SWP_NOACTIVATE);
    shape_main_window(hwnd, app.window.scale);
    if (rescaled) app.reload_banner();
    ::InvalidateRect(hwnd, nullptr, FALSE);
}

HWND create_main_window(LauncherApp& app) {
    POINT pointer{0, 0};
    ::GetCursorPos(&pointer);  // where it fails, (0, 0) is on the primary monitor
    RECT const work_area = work_area_of(::MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY));
    // Made small in a corner of that monitor's work area, so that it is on that monitor
    // and takes its DPI; sized and placed for it before it shows.
    HWND const hwnd = ::CreateWindowExW(0, k_main_window_class, app.settings.window_title.c_str(),
                                        WS_POPUP | WS_MINIMIZEBOX | WS_SYSMENU, work_area.left, work_area.top, 1, 1, nullptr,
                                        nullptr, app.instance, &app);
    if (!hwnd) return nullptr;
    fit_main_window(app, hwnd, window_dpi(hwnd), work_area, true);
    return hwnd;
}

}  // namespace korvel
