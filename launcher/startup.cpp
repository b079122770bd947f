#include "launcher/startup.h"

#include "launcher/client_launch.h"
#include "launcher/command_line.h"
#include "launcher/launcher_app.h"
#include "launcher/main_window.h"
#include "launcher/single_instance.h"
#include "launcher/window_controller.h"
#include "launcher/workers.h"
#include "platform/files.h"
#include "platform/message_box.h"

#include <commctrl.h>
#include <objbase.h>

#include <memory>
#include <system_error>

namespace fs = std::filesystem;

namespace korvel {

namespace {

// CoUninitialize only when CoInitializeEx succeeded, and before LauncherApp goes.
class ComApartment {
public:
    ComApartment() : initialized_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (initialized_) ::CoUninitialize();
    }
    ComApartment(ComApartment const&) = delete;
    ComApartment& operator=(ComApartment const&) = delete;

private:
    bool initialized_;
};

int run_normal_mode(HINSTANCE instance, int show_command) {
    // A second launcher of the same folder only shows the first one and ends.
    fs::path const folder = exe_path().parent_path();
    SingleInstance const single_instance(folder);
    if (!single_instance.first()) {
        constexpr DWORD wait_for_first_window_ms = 10000;
        // No window after the wait: the other launcher is closing or hung. Without a
        // word the player would only see that nothing happened.
        if (!bring_running_launcher_to_front(folder, wait_for_first_window_ms))
            show_message_box(nullptr, L"A launcher már fut ebből a mappából.", k_message_box_title,
                             MB_OK | MB_ICONINFORMATION);
        return 0;
    }

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = 0x40FF;  // the old common-controls classes and the standard classes
    ::InitCommonControlsEx(&controls);

    // Declared before the apartment so that it is destroyed after CoUninitialize.
    std::unique_ptr<LauncherApp> app;
    ComApartment com;
    app = std::make_unique<LauncherApp>(instance);

    Gdiplus::GdiplusStartupInput const gdiplus_input;  // version 1, no debug callback
    if (!start_gdiplus(*app, gdiplus_input)) return 1;

    app->instance = instance;
    app->base_dir = exe_path().parent_path();
    app->load_settings();

    // Later writes into UserData fail on their own terms if this does not work.
    std::error_code ignored;
    fs::create_directories(app->resolve_path(app->client_root) / L"UserData", ignored);

    if (register_main_window_class(instance) != ERROR_SUCCESS) return 1;
    HWND const hwnd = create_main_window(*app);
    if (!hwnd) return 1;

    // The cached banner first, so that the first frame shows the last picture; then the
    // asset shipped with the launcher. Without either the banner area draws its gradient.
    if (!app->load_banner_image(app->banner_cache_path))
        app->load_banner_image(app->resolve_path(app->ini.get(L"assets", L"banner", L"assets/banner.jpg")));

    ::ShowWindow(hwnd, show_command);
    ::UpdateWindow(hwnd);
    start_fetchers(*app);
    // A failed launcher replacement is said before the check that patches the game.
    app->check_last_hand_off();
    // 400 ms after start-up the window controller starts the automatic update check; a
    // timer that cannot be set must not leave the launcher without one.
    if (!::SetTimer(hwnd, k_update_timer, 400, nullptr)) app->start_patch(false);

    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace

bool start_gdiplus(LauncherApp& app, Gdiplus::GdiplusStartupInput const& input) {
    Gdiplus::Status const status = Gdiplus::GdiplusStartup(&app.gdiplus_token, &input, nullptr);
    if (status == Gdiplus::Ok) return true;
    app.gdiplus_token = 0;
    // Without GDI+ the window would never draw: better no window and a reason.
    show_message_box(nullptr,
                     L"A launcher nem indítható: a GDI+ grafikus rendszer nem indult el.\nGDI+: " +
                         std::to_wstring(static_cast<int>(status)),
                     k_message_box_title, MB_OK | MB_ICONERROR);
    return false;
}

int launcher_main(HINSTANCE instance, int show_command) {
    // The manifest declares per-monitor (v2) awareness, and where the system honours it
    // this call changes nothing: awareness is set once per process, and a later call is
    // refused. It counts only where the manifest's setting is not read, and there it
    // keeps the system from stretching the window as a bitmap.
    ::SetProcessDPIAware();
    try {
        if (auto const count = launch_clients_count_of_process()) return run_launch_mode(*count);
        return run_normal_mode(instance, show_command);
    } catch (std::exception const&) {
        // Nothing below is expected to throw (the executable's own path, a text
        // conversion); if it does, end with the start-up failure code instead of a crash.
        return 1;
    }
}

}  // namespace korvel
