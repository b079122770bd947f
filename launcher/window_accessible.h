#pragma once
// The main window as screen readers see it, through Microsoft Active Accessibility: an
// IAccessible for its client area whose children are window/accessible_items.h's items,
// and the events that tell a reader what changed. On Windows, UI Automation clients
// reach the same tree through the system's MSAA proxy. UI thread only.

#include "window/accessible_items.h"

#include <windows.h>

#include <vector>

namespace korvel {

class LauncherApp;
class WindowAccessible;

// One window's accessible object and what its events last said.
class WindowAccessibility {
public:
    WindowAccessibility() = default;
    ~WindowAccessibility();
    WindowAccessibility(WindowAccessibility const&) = delete;
    WindowAccessibility& operator=(WindowAccessibility const&) = delete;

    // WM_GETOBJECT: the client area's IAccessible for OBJID_CLIENT, made on the first ask;
    // DefWindowProcW's answer for every other object.
    LRESULT on_get_object(LauncherApp& app, HWND hwnd, WPARAM wparam, LPARAM lparam);

    // After each repaint: raises focus, name, value, state, description and alert events
    // for what changed since the last call, so a reader hears the progress no more often
    // than the window redraws it. The focus event only while the window has the focus.
    void announce_changes(HWND hwnd, WindowState const& state);
    // WM_SETFOCUS: the focused item's focus event.
    void on_focus_gained(HWND hwnd, WindowState const& state);

    // WM_DESTROY: readers that still hold the object get "disconnected" from now on.
    void disconnect() noexcept;

private:
    WindowAccessible* object_ = nullptr;  // one reference held
    std::vector<AccessibleItem> announced_;
    ButtonId announced_focus_ = ButtonId::None;
};

}  // namespace korvel
