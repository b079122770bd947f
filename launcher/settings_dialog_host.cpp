#include "launcher/settings_dialog_host.h"

#include "gamecfg/config_dialog.h"
#include "gamecfg/config_state.h"

#include <memory>

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

DialogEnd run_settings_dialog(HINSTANCE instance, HWND owner, DisplayScale scale,
                              std::filesystem::path const& config_path) {
    register_config_dialog_class(instance);

    auto state = std::make_unique<ConfigDialogState>();
    state->owner = owner;
    state->config_path = config_path;
    read_config_file(*state);

    ::EnableWindow(owner, FALSE);
    RECT owner_rect{};
    ::GetWindowRect(owner, &owner_rect);
    // On the main window's monitor, so at its scale.
    int const width = scale.px(k_config_dialog_width), height = scale.px(k_config_dialog_height);
    int const x = owner_rect.left + (owner_rect.right - owner_rect.left - width) / 2;
    int const y = owner_rect.top + (owner_rect.bottom - owner_rect.top - height) / 2;
    HWND const dialog = ::CreateWindowExW(WS_EX_DLGMODALFRAME, k_config_dialog_class, k_config_dialog_title,
                                          WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, x, y, width, height, owner,
                                          nullptr, instance, state.get());
    if (!dialog) {
        ::EnableWindow(owner, TRUE);
        return DialogEnd::NotOpened;
    }

    MSG message{};
    DialogEnd end = DialogEnd::Closed;
    while (::IsWindow(dialog)) {
        BOOL const got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            // The quit belongs to the main loop as well: without it the launcher would
            // keep running with no window after the dialog closes.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            end = DialogEnd::Quit;
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
    return end;
}

}  // namespace korvel
