#include "gamecfg/config_dialog.h"
#include "gamecfg/config_state.h"
#include "launcher/launcher_app.h"

#include <memory>
#include <utility>

namespace korvel {

namespace {

// Registered once per run; after a failure other than "already exists" the next
// opening tries again.
bool register_config_dialog_class(HINSTANCE instance) {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = config_dialog_proc;
    window_class.hInstance = instance;
    window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    window_class.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(101));
    window_class.hIconSm = window_class.hIcon;
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    window_class.lpszClassName = k_config_dialog_class;
    registered = ::RegisterClassExW(&window_class) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return registered;
}

}  // namespace

void LauncherApp::open_settings_dialog() {
    register_config_dialog_class(instance);

    auto state = std::make_unique<ConfigDialogState>();
    state->owner = hwnd;
    state->config_path = resolve_path(config_file);
    read_config_file(*state);

    ::EnableWindow(hwnd, FALSE);
    RECT owner_rect{};
    ::GetWindowRect(hwnd, &owner_rect);
    // On the main window's monitor, so at its scale.
    int const width = scale.px(k_config_dialog_width), height = scale.px(k_config_dialog_height);
    int const x = owner_rect.left + (owner_rect.right - owner_rect.left - width) / 2;
    int const y = owner_rect.top + (owner_rect.bottom - owner_rect.top - height) / 2;
    HWND const dialog = ::CreateWindowExW(WS_EX_DLGMODALFRAME, k_config_dialog_class, k_config_dialog_title,
                                          WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, x, y, width, height, hwnd,
                                          nullptr, instance, state.get());
    if (!dialog) {
        ::EnableWindow(hwnd, TRUE);
        return;
    }
    settings_open = true;

    MSG message{};
    bool quitting = false;
    while (::IsWindow(dialog)) {
        BOOL const got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            // The quit belongs to the main loop as well: without it the launcher would
            // keep running with no window after the dialog closes.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            quitting = true;
            break;
        }
        if (got < 0) break;
        if (!::IsDialogMessageW(dialog, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    // Leaving the loop early must not leave a window behind that points at the state
    // freed below; destroying it also enables the owner again.
    if (::IsWindow(dialog)) ::DestroyWindow(dialog);

    settings_open = false;
    if (auto const full_repair = std::exchange(pending_patch, std::nullopt); full_repair && !quitting)
        start_patch(*full_repair);
}

}  // namespace korvel
