#include "launcher/window_controller.h"

#include "launcher/app_messages.h"
#include "launcher/feeds.h"
#include "launcher/keyboard_focus.h"
#include "launcher/launcher_app.h"
#include "launcher/main_window.h"
#include "platform/display_scale.h"
#include "platform/high_contrast.h"
#include "platform/message_box.h"
#include "window/hit_test.h"
#include "window/layout.h"

#include <shellapi.h>
#include <windowsx.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace korvel {

namespace {

void invalidate_all(HWND hwnd) {
    ::InvalidateRect(hwnd, nullptr, FALSE);
}

// Links come from the server's news document and from launcher.ini, so they are taken
// for what they claim to be only when they are plainly web addresses: the shell would
// just as willingly start a local program, a file:// or a \\server\share executable (an
// unreachable share also freezes this thread). Blanks, quotes and backslashes have no
// place in a web address and could turn it into more than one argument for the browser.
bool is_web_link(std::wstring_view link) {
    if (link.size() > feed_link_limit) return false;
    std::size_t host = 0;
    for (std::wstring_view scheme : {std::wstring_view(L"http://"), std::wstring_view(L"https://")})
        if (link.size() > scheme.size() &&
            ::CompareStringOrdinal(link.data(), static_cast<int>(scheme.size()), scheme.data(),
                                   static_cast<int>(scheme.size()), TRUE) == CSTR_EQUAL)
            host = scheme.size();
    if (host == 0 || link[host] == L'/') return false;
    for (wchar_t const c : link)
        if (c <= L' ' || c == 0x7F || c == L'"' || c == L'\\') return false;
    return true;
}

// Anything but a web link does nothing, silently, as an empty one does.
void open_link(std::wstring const& link) {
    if (!is_web_link(link)) return;
    // A link that cannot be opened is not worth a message: the player can try again.
    ::ShellExecuteW(nullptr, L"open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

LRESULT on_close(LauncherApp const& app, HWND hwnd) {
    if (app.window.patch_running) {
        int const answer = show_message_box(hwnd, L"Frissítés van folyamatban. Biztosan bezárod?",
                                            k_message_box_title, MB_YESNO | MB_ICONQUESTION);
        if (answer != IDYES) return 0;
    }
    ::DestroyWindow(hwnd);
    return 0;
}

LRESULT on_nc_hit_test(LauncherApp const& app, HWND hwnd, LPARAM lparam) {
    POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
    ::ScreenToClient(hwnd, &point);
    return in_drag_strip(app.window, point) ? HTCAPTION : HTCLIENT;
}

void on_mouse_move(LauncherApp& app, HWND hwnd, LPARAM lparam) {
    ButtonId const id = hit_test(app.window, POINT{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)});
    if (id != app.window.hover_id) {
        app.window.hover_id = id;
        invalidate_all(hwnd);
    }
    // Asked again on every move: the request ends with each WM_MOUSELEAVE.
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof(track);
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = hwnd;
    track.dwHoverTime = 0;
    ::TrackMouseEvent(&track);
}

}  // namespace

void press_button(LauncherApp& app, HWND hwnd, ButtonId id) {
    switch (id) {
        case ButtonId::Close:
            ::PostMessageW(hwnd, WM_CLOSE, 0, 0);  // through the close question
            break;
        case ButtonId::Minimize:
            ::ShowWindow(hwnd, SW_MINIMIZE);
            break;
        case ButtonId::Play:
            if (app.window.play_ready && !app.window.patch_running) app.launch_clients();
            break;
        case ButtonId::Repair:
            if (!app.window.patch_running) app.start_patch(true);
            break;
        case ButtonId::Settings:
            if (!app.window.patch_running) app.open_settings_dialog();
            break;
        case ButtonId::Website:
            open_link(app.window.website_url);
            break;
        case ButtonId::Discord:
            open_link(app.window.discord_url);
            break;
        case ButtonId::Register:
            open_link(app.window.register_url);
            break;
        case ButtonId::Count1:
        case ButtonId::Count2:
        case ButtonId::Count3:
            if (!app.window.patch_running)
                app.save_client_count(static_cast<int>(id) - static_cast<int>(ButtonId::Count1) + 1);
            break;
        case ButtonId::NewsItem0:
        case ButtonId::NewsItem1:
        case ButtonId::NewsItem2:
        case ButtonId::NewsItem3: {
            auto const index = static_cast<size_t>(id) - static_cast<size_t>(ButtonId::NewsItem0);
            if (index < app.window.news_items.size()) open_link(app.window.news_items[index].url);
            break;
        }
        case ButtonId::None:
            break;
    }
}

namespace {

void on_button_up(LauncherApp& app, HWND hwnd, LPARAM lparam) {
    ButtonId const id = hit_test(app.window, POINT{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)});
    // A click takes the focus along, as it does to a standard button.
    if (id != ButtonId::None && app.window.focus_id != id) {
        app.window.focus_id = id;
        if (app.window.focus_visible) invalidate_all(hwnd);
    }
    press_button(app, hwnd, id);
}

void on_feed_ready(LauncherApp& app, HWND hwnd, LPARAM lparam) {
    std::unique_ptr<FeedResult> const feed(reinterpret_cast<FeedResult*>(lparam));
    if (!feed) return;
    app.window.news_items = std::move(feed->items);
    app.window.server_online = feed->online;
    app.window.server_status_text = std::move(feed->label);
    invalidate_all(hwnd);
}

void on_banner_ready(LauncherApp& app, HWND hwnd, LPARAM lparam) {
    std::unique_ptr<std::wstring> const path(reinterpret_cast<std::wstring*>(lparam));
    if (!path) return;
    RECT const area = app.window.scale.px(layout::banner);
    if (app.load_banner_image(*path)) ::InvalidateRect(hwnd, &area, FALSE);
}

// At creation and whenever the system's colours or settings change: a contrast theme
// switched on or off, or another one chosen, is drawn from the next frame on.
void follow_contrast_theme(LauncherApp& app, HWND hwnd) {
    app.window.contrast = contrast_theme();
    invalidate_all(hwnd);
}

// The window moved to a monitor of another scale (or the scale changed): fitted to that
// monitor at the place the system suggests, everything laid out again at the new scale.
void on_dpi_changed(LauncherApp& app, HWND hwnd, WPARAM wparam, LPARAM lparam) {
    RECT frame{};
    if (auto const* suggested = reinterpret_cast<RECT const*>(lparam))
        frame = *suggested;
    else
        ::GetWindowRect(hwnd, &frame);
    fit_main_window(app, hwnd, LOWORD(wparam), frame, false);
}

// The taskbar moved or grew, or the screen's resolution changed: fitted again where it is.
// A minimised window lies far off the screen; moving it would put it back on, shrunk.
void on_work_area_changed(LauncherApp& app, HWND hwnd) {
    if (::IsIconic(hwnd)) return;
    RECT frame{};
    ::GetWindowRect(hwnd, &frame);
    fit_main_window(app, hwnd, window_dpi(hwnd), frame, false);
}

}  // namespace

LRESULT handle_message(LauncherApp& app, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_DESTROY:
            app.accessibility.disconnect();
            ::PostQuitMessage(0);
            return 0;
        case WM_PAINT:
            app.paint_window();
            app.accessibility.announce_changes(hwnd, app.window);
            return 0;
        case WM_ERASEBKGND:
            return 1;  // the paint covers every pixel
        case WM_CREATE:
        case WM_SYSCOLORCHANGE:
            follow_contrast_theme(app, hwnd);
            return 0;
        case WM_CLOSE:
            return on_close(app, hwnd);
        case WM_NCHITTEST:
            return on_nc_hit_test(app, hwnd, lparam);
        case WM_KEYDOWN:
            on_key_down(app, hwnd, wparam);
            return 0;
        case WM_SETFOCUS:
            app.accessibility.on_focus_gained(hwnd, app.window);
            return 0;
        case WM_GETOBJECT:
            return app.accessibility.on_get_object(app, hwnd, wparam, lparam);
        case WM_ACCESSIBLE_PRESS:
            press_button(app, hwnd, static_cast<ButtonId>(wparam));
            return 0;
        case WM_TIMER:
            if (wparam == k_update_timer) {
                ::KillTimer(hwnd, k_update_timer);
                app.start_patch(false);
            }
            return 0;
        case WM_MOUSEMOVE:
            on_mouse_move(app, hwnd, lparam);
            return 0;
        case WM_MOUSELEAVE:
            if (app.window.hover_id != ButtonId::None) {
                app.window.hover_id = ButtonId::None;
                invalidate_all(hwnd);
            }
            return 0;
        case WM_LBUTTONUP:
            on_button_up(app, hwnd, lparam);
            return 0;
        case WM_PATCH_PROGRESS:
            app.on_patch_progress(lparam);
            return 0;
        case WM_PATCH_DONE:
            app.on_patch_done(lparam);
            return 0;
        case WM_FEED_READY:
            on_feed_ready(app, hwnd, lparam);
            return 0;
        case WM_BANNER_READY:
            on_banner_ready(app, hwnd, lparam);
            return 0;
        case WM_GETDPISCALEDSIZE:  // asked before WM_DPICHANGED: the size the frame is drawn at
            if (auto* size = reinterpret_cast<SIZE*>(lparam)) {
                DisplayScale const next{LOWORD(wparam)};
                *size = {next.px(layout::window_width), next.px(layout::window_height)};
                return TRUE;
            }
            return FALSE;
        case WM_DPICHANGED:
            on_dpi_changed(app, hwnd, wparam, lparam);
            return 0;
        case WM_SETTINGCHANGE:
            follow_contrast_theme(app, hwnd);  // a contrast theme switched on or off
            if (wparam == SPI_SETWORKAREA) on_work_area_changed(app, hwnd);
            return 0;
        case WM_DISPLAYCHANGE:
            on_work_area_changed(app, hwnd);
            return 0;
        default:
            return ::DefWindowProcW(hwnd, message, wparam, lparam);
    }
}

}  // namespace korvel
