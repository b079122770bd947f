#include "launcher/keyboard_focus.h"

#include "launcher/launcher_app.h"
#include "launcher/window_controller.h"
#include "window/accessible_items.h"

#include <vector>

namespace korvel {

namespace {

bool shift_down() {
    return ::GetKeyState(VK_SHIFT) < 0;
}

}  // namespace

void on_key_down(LauncherApp& app, HWND hwnd, WPARAM key) {
    WindowState& state = app.window;
    std::vector<AccessibleItem> const items = accessible_items(state);
    ButtonId const focused = focused_button(state, items);
    bool const was_visible = state.focus_visible;
    switch (key) {
        case VK_ESCAPE:
            ::PostMessageW(hwnd, WM_CLOSE, 0, 0);  // through the close question
            return;
        case VK_TAB:
            state.focus_visible = true;
            // As in a dialog whose cues were hidden, the first Tab already moves.
            state.focus_id = next_tab_stop(state, items, !shift_down());
            break;
        case VK_RETURN:
        case VK_SPACE:
            state.focus_visible = true;
            ::InvalidateRect(hwnd, nullptr, FALSE);
            press_button(app, hwnd, focused);
            return;
        case VK_LEFT:
        case VK_RIGHT:
        case VK_UP:
        case VK_DOWN:
        case VK_HOME:
        case VK_END: {
            state.focus_visible = true;
            ButtonId const to = move_in_group(items, focused, static_cast<UINT>(key));
            if (to == ButtonId::None) break;
            state.focus_id = to;
            // In a group of radio buttons the arrows choose as they move.
            if (is_count_button(to)) press_button(app, hwnd, to);
            break;
        }
        default:
            return;
    }
    if (!was_visible || focused_button(state, accessible_items(state)) != focused)
        ::InvalidateRect(hwnd, nullptr, FALSE);
}

}  // namespace korvel
