#pragma once
// The "Korvel – Beállítások" window: a plain window (not a dialog template) that edits
// zivur2.cfg. open_settings_dialog registers the class, creates it with a
// ConfigDialogState as creation data and runs the nested loop. UI thread only.

#include <windows.h>

namespace korvel {

inline constexpr wchar_t const* k_config_dialog_class = L"KorvelConfigDialog";
inline constexpr wchar_t const* k_config_dialog_title = L"Korvel – Beállítások";
inline constexpr int k_config_dialog_width = 540;
inline constexpr int k_config_dialog_height = 460;

enum ConfigControlId : int {
    k_display_mode_list = 1001,
    k_windowed_box = 1002,
    k_gamma_list = 1003,
    k_shadow_list = 1004,
    k_music_list = 1005,
    k_voice_list = 1006,
    k_night_box = 1007,
    k_fog_box = 1008,
    k_snow_box = 1009,
    k_snow_texture_box = 1010,
    k_apply_button = 1011,
    k_cancel_button = 1012,
};

// The class's window procedure. The ConfigDialogState arrives in CREATESTRUCT and must
// outlive the window.
LRESULT CALLBACK config_dialog_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace korvel
