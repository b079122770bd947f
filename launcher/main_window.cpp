#include "launcher/main_window.h"

#include "launcher/launcher_app.h"
#include "launcher/window_controller.h"
#include "platform/gdi_handles.h"
#include "window/layout.h"

#include <dwmapi.h>

#include <algorithm>

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

SIZE window_size(DisplayScale scale) {
    return {scale.px(layout::window_width), scale.px(layout::window_height)};
}

}  // namespace

void shape_main_window(HWND hwnd, DisplayScale scale) {
    // Windows 11 rounds the frame itself when asked; older systems and Wine ignore it.
    DWORD const corner_preference = 2;  // DWMWCP_ROUND
    ::DwmSetWindowAttribute(hwnd, 33 /* DWMWA_WINDOW_CORNER_PREFERENCE */, &corner_preference,
                            sizeof(corner_preference));

    // The region's right and bottom edges are exclusive, hence one more than the size.
    SIZE const size = window_size(scale);
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

POINT main_window_position(RECT const& work_area, SIZE size) {
    LONG const width = size.cx, height = size.cy;
    POINT at{work_area.left + (work_area.right - work_area.left - width) / 2,
             work_area.top + (work_area.bottom - work_area.top - height) / 2};
    // Where the window is larger than the area, the close, minimise and settings buttons
    // (top right) and Play (bottom right) matter most: the right edge and the top edge
    // stay inside, the banner on the left is what goes.
    at.x = std::min(std::max(at.x, work_area.left), work_area.right - width);
    at.y = std::max(std::min(at.y, work_area.bottom - height), work_area.top);
    return at;
}

HWND create_main_window(LauncherApp& app) {
    // The primary monitor's work area: its screen without the taskbar.
    RECT work_area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor))
        work_area = monitor.rcWork;
    auto const [x, y] = main_window_position(work_area, window_size(DisplayScale{}));
    HWND const hwnd = ::CreateWindowExW(0, k_main_window_class, app.settings.window_title.c_str(),
                                        WS_POPUP | WS_MINIMIZEBOX | WS_SYSMENU, x, y, layout::window_width, layout::window_height,
                                        nullptr, nullptr, app.instance, &app);
    if (!hwnd) return nullptr;
    // The scale is known once the window is on a monitor; it is resized before it shows.
    app.window.scale.dpi = window_dpi(hwnd);
    if (app.window.scale.dpi != k_design_dpi) {
        SIZE const size = window_size(app.window.scale);
        auto const [sx, sy] = main_window_position(work_area, size);
        ::SetWindowPos(hwnd, nullptr, sx, sy, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    shape_main_window(hwnd, app.window.scale);
    return hwnd;
}

}  // namespace korvel
