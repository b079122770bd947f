#pragma once
// Every message box of the launcher goes through show_message_box, so that a test can
// install a hook and see the text, title, owner and flags instead of a box blocking it.
// UI thread (or the only thread, in launch mode).

#include <windows.h>

#include <functional>
#include <string>

namespace korvel {

// The title of every launcher message box.
inline constexpr wchar_t const* k_message_box_title = L"Korvel Launcher";

// Receives what MessageBoxW would have been given; returns the button the "user" chose.
using MessageBoxHook = std::function<int(HWND owner, std::wstring const& text, std::wstring const& title, UINT flags)>;

// Installs `hook` for the whole process; an empty hook brings the real boxes back.
void set_message_box_hook(MessageBoxHook hook);

// MessageBoxW, or the installed hook. Returns the chosen button (IDOK, IDYES ...).
int show_message_box(HWND owner, std::wstring const& text, std::wstring const& title, UINT flags);

}  // namespace korvel
