#pragma once
// The game settings dialog (gamecfg/) as the launcher shows it: modal over the main
// window, with a message loop of its own. UI thread only.

#include "platform/display_scale.h"

#include <windows.h>

#include <filesystem>

namespace korvel {

// How the dialog's loop ended.
enum class DialogEnd {
    NotOpened,  // the dialog window could not be made
    Closed,
    Quit,  // a WM_QUIT arrived; it is posted again for the main loop
};

// Shows the dialog on `config_path`, centred on `owner` at `scale`, with `owner`
// disabled, and returns when it is gone.
DialogEnd run_settings_dialog(HINSTANCE instance, HWND owner, DisplayScale scale,
                              std::filesystem::path const& config_path);

}  // namespace korvel
