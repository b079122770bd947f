#include "launcher/startup.h"

#include "launcher/client_launch.h"
#include "launcher/command_line.h"
#include "launcher/launcher_app.h"
#include "launcher/main_window.h"
#include "launcher/settings.h"
#include "launcher/single_instance.h"
#include "launcher/window_controller.h"
#include "launcher/workers.h"
#include "platform/com_apartment.h"
#include "platform/files.h"
#include "platform/message_box.h"

#include <commctrl.h>

#include <memory>
#include <system_error>

namespace fs = std::filesystem;

namespace korvel {

namespace {

// A second launcher of the same folder only shows the first one. True when another
// launcher runs there; this one then ends. False when this one is the folder's launcher,
// also when the other one ends while this one looks for its window (it was closing as
// this one started).
bool another_launcher_runs(SingleInstance& single_instance, fs::path const& folder) {
    constexpr DWORD wait_for_first_window_ms = 10000;
    constexpr DWORD poll_ms = 100;
    DWORD const start = ::GetTickCount();
    while (!single_instance.first()) {
        if (bring_running_launcher_to_front(folder)) return true;
        if (single_instance.take_if_free()) return false;
        if (::GetTickCount() - start >= wait_for_first_window_ms) {
            // Still held but no window: the other launcher is hung. Without a word the
            // player would only see that nothing happened.
            show_message_box(nullptr, L"A launcher már fut ebből a mappából.", k_message_box_title,
                             MB_OK | MB_ICONINFORMATION);
            return true;
        }
        ::Sleep(poll_ms);  // the other launcher may still be creating its window
    }
    return false;
}

void init_common_controls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = 0x40FF;  // the old common-controls classes and the standard classes
    ::InitCommonControlsEx(&controls);
}

// GDI+, the settings and the UserData folder. False when GDI+ does not start.
bool prepare_app(LauncherApp& app, fs::path const& folder) {
    Gdiplus::GdiplusStartupInput const gdiplus_input;  // version 1, no debug callback
    if (!app.start_gdiplus(gdiplus_input)) return false;
    app.base_dir = folder;
    app.load_settings();
    // Later writes into UserData fail on their own terms if this does not work.
    std::error_code ignored;
    fs::create_directories(user_data_dir(app.base_dir, app.settings.client), ignored);
    return true;
}

// The window, shown with its first banner: the cached one, so that the first frame shows
// the last picture; then the one shipped with the launcher. Without either the banner
// area draws its gradient. Null when the window cannot be made.
HWND open_main_window(LauncherApp& app, HINSTANCE instance, int show_command) {
    if (register_main_window_class(instance) != ERROR_SUCCESS) return nullptr;
    HWND const hwnd = create_main_window(app);
    if (!hwnd) return nullptr;
    if (!app.load_banner_image(app.settings.banner_cache_path))
        app.load_banner_image(app.resolve_path(app.settings.shipped_banner));
    ::ShowWindow(hwnd, show_command);
    ::UpdateWindow(hwnd);
    return hwnd;
}

// The downloads, what became of the last launcher hand-off, and the automatic check.
void begin_work(LauncherApp& app, HWND hwnd) {
    start_fetchers(hwnd, app.settings);
    // A failed launcher replacement is said before the check that patches the game.
    app.check_last_hand_off();
    // 400 ms after start-up the window controller starts the automatic update check; a
    // timer that cannot be set must not leave the launcher without one.
    if (!::SetTimer(hwnd, k_update_timer, 400, nullptr)) app.start_patch(false);
}

int run_message_loop() {
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

int run_normal_mode(HINSTANCE instance, int show_command) {
    fs::path const folder = exe_path().parent_path();
    SingleInstance single_instance(folder);
    if (another_launcher_runs(single_instance, folder)) return 0;
    init_common_controls();

    // Declared before the apartment so that it is destroyed after CoUninitialize.
    std::unique_ptr<LauncherApp> app;
    ComApartment const com(COINIT_APARTMENTTHREADED);
    app = std::make_unique<LauncherApp>(instance);
    if (!prepare_app(*app, folder)) return 1;
    HWND const hwnd = open_main_window(*app, instance, show_command);
    if (!hwnd) return 1;
    begin_work(*app, hwnd);
    return run_message_loop();
}

}  // namespace

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
