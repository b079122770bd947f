#include "gamecfg/config_dialog.h"

#include "gamecfg/config_state.h"
#include "gamecfg/dialog_choices.h"
#include "gamecfg/display_modes.h"
#include "platform/display_scale.h"
#include "platform/gdi_handles.h"
#include "platform/high_contrast.h"
#include "platform/message_box.h"

#include <uxtheme.h>

#include <optional>
#include <string>

namespace korvel {

namespace {

// The dialog's dark look, or in a contrast theme the system's dialog pair.
COLORREF background() {
    std::optional<SystemColours> const theme = contrast_theme();
    return theme ? (*theme)[COLOR_BTNFACE] : RGB(18, 20, 29);
}
COLORREF label_text() {
    std::optional<SystemColours> const theme = contrast_theme();
    return theme ? (*theme)[COLOR_BTNTEXT] : RGB(220, 224, 235);
}

struct ControlLayout {
    int id;  // 0: a label
    wchar_t const* class_name;
    wchar_t const* text;
    DWORD style;
    int x, y, width, height;
};

DWORD const k_list_style = CBS_DROPDOWNLIST | WS_VSCROLL;

// Creation order is also the order the controls are drawn and walked in, and each list
// follows its label: a screen reader names a list by the label before it, and the
// label's access key (Alt + the underlined letter) moves to the list.
ControlLayout const k_controls[] = {
    {0, L"STATIC", L"&Kijelző mód", SS_LEFT, 24, 24, 150, 22},
    {k_display_mode_list, L"COMBOBOX", L"", k_list_style, 190, 20, 300, 300},
    {k_windowed_box, L"BUTTON", L"&Ablakos mód", BS_AUTOCHECKBOX, 190, 62, 240, 24},
    {0, L"STATIC", L"&Gamma", SS_LEFT, 24, 106, 150, 22},
    {k_gamma_list, L"COMBOBOX", L"", k_list_style, 190, 102, 150, 300},
    {0, L"STATIC", L"Árnyék &minőség", SS_LEFT, 24, 146, 150, 22},
    {k_shadow_list, L"COMBOBOX", L"", k_list_style, 190, 142, 150, 300},
    {0, L"STATIC", L"&Zene hangerő", SS_LEFT, 24, 186, 150, 22},
    {k_music_list, L"COMBOBOX", L"", k_list_style, 190, 182, 150, 300},
    {0, L"STATIC", L"&Effektek", SS_LEFT, 24, 226, 150, 22},
    {k_voice_list, L"COMBOBOX", L"", k_list_style, 190, 222, 150, 300},
    {k_night_box, L"BUTTON", L"É&jszakai mód", BS_AUTOCHECKBOX, 24, 276, 240, 24},
    {k_fog_box, L"BUTTON", L"Kö&d", BS_AUTOCHECKBOX, 250, 276, 240, 24},
    {k_snow_box, L"BUTTON", L"&Hó effekt", BS_AUTOCHECKBOX, 24, 310, 240, 24},
    {k_snow_texture_box, L"BUTTON", L"Hó &textúrák", BS_AUTOCHECKBOX, 250, 310, 240, 24},
    {k_apply_button, L"BUTTON", L"A&LKALMAZ", BS_DEFPUSHBUTTON, 265, 370, 130, 36},
    {k_cancel_button, L"BUTTON", L"MÉG&SE", BS_PUSHBUTTON, 405, 370, 100, 36},
};

ConfigDialogState* state_of(HWND hwnd) {
    return reinterpret_cast<ConfigDialogState*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void fill_list(HWND dialog, int id, std::initializer_list<wchar_t const*> items, int selection) {
    HWND const list = ::GetDlgItem(dialog, id);
    for (wchar_t const* item : items) ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
}

void set_check(HWND dialog, int id, bool on) {
    ::SendDlgItemMessageW(dialog, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool is_checked(HWND dialog, int id) {
    return ::SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int selection_of(HWND dialog, int id) {
    return static_cast<int>(::SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0));
}

void show_choices(HWND dialog, ConfigDialogState const& state, DialogChoices const& choices) {
    HWND const mode_list = ::GetDlgItem(dialog, k_display_mode_list);
    for (DisplayMode const& mode : state.modes) {
        std::wstring const text = std::to_wstring(mode.width) + L" × " + std::to_wstring(mode.height) + L" @ " +
                                  std::to_wstring(mode.frequency) + L" Hz";
        ::SendMessageW(mode_list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    if (choices.mode >= 0) ::SendMessageW(mode_list, CB_SETCURSEL, static_cast<WPARAM>(choices.mode), 0);

    set_check(dialog, k_windowed_box, choices.windowed);
    fill_list(dialog, k_gamma_list, {L"1", L"2", L"3", L"4", L"5"}, choices.gamma);
    fill_list(dialog, k_shadow_list, {L"Kikapcsolva", L"Alacsony", L"Közepes", L"Magas"}, choices.shadow_level);
    fill_list(dialog, k_music_list, {L"0%", L"25%", L"50%", L"75%", L"100%"}, choices.music_volume);
    fill_list(dialog, k_voice_list, {L"0", L"1", L"2", L"3", L"4", L"5"}, choices.voice_volume);
    set_check(dialog, k_night_box, choices.night_mode);
    set_check(dialog, k_fog_box, choices.fog_mode);
    set_check(dialog, k_snow_box, choices.snow_mode);
    set_check(dialog, k_snow_texture_box, choices.snow_texture_mode);
}

DialogChoices read_choices(HWND dialog) {
    DialogChoices choices;
    choices.mode = selection_of(dialog, k_display_mode_list);
    choices.windowed = is_checked(dialog, k_windowed_box);
    choices.gamma = selection_of(dialog, k_gamma_list);
    choices.shadow_level = selection_of(dialog, k_shadow_list);
    choices.music_volume = selection_of(dialog, k_music_list);
    choices.voice_volume = selection_of(dialog, k_voice_list);
    choices.night_mode = is_checked(dialog, k_night_box);
    choices.fog_mode = is_checked(dialog, k_fog_box);
    choices.snow_mode = is_checked(dialog, k_snow_box);
    choices.snow_texture_mode = is_checked(dialog, k_snow_texture_box);
    return choices;
}

// Places every control at `scale` (the table is in design pixels) and gives each one,
// labels included, the dialog's font at that scale. The old font goes only once no
// control uses it any more.
void lay_out(ConfigDialogState& state, DisplayScale scale) {
    UniqueFont font(::CreateFontW(-scale.px(16), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                  DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI"));
    for (std::size_t i = 0; i < state.controls.size(); ++i) {
        ControlLayout const& layout = k_controls[i];
        RECT const r = scale.px(RECT{layout.x, layout.y, layout.x + layout.width, layout.y + layout.height});
        ::SetWindowPos(state.controls[i], nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        if (font) ::SendMessageW(state.controls[i], WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    }
    if (font) state.control_font = std::move(font);
}

bool on_create(HWND dialog, ConfigDialogState& state) {
    auto const instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
    for (ControlLayout const& layout : k_controls) {
        DWORD const ex_style = layout.class_name == std::wstring_view(L"COMBOBOX") ? WS_EX_CLIENTEDGE : 0;
        HWND const control =
            ::CreateWindowExW(ex_style, layout.class_name, layout.text,
                              WS_CHILD | WS_VISIBLE | (layout.id != 0 ? WS_TABSTOP : 0) | layout.style, layout.x,
                              layout.y, layout.width, layout.height, dialog,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), instance, nullptr);
        if (!control) return false;
        // A themed check box draws its label in the theme's own (dark) colour, which the
        // dark background would swallow; unthemed, it takes the colour given below.
        if ((layout.style & BS_TYPEMASK) == BS_AUTOCHECKBOX && layout.class_name == std::wstring_view(L"BUTTON"))
            ::SetWindowTheme(control, L"", L"");
        state.controls.push_back(control);
    }
    lay_out(state, DisplayScale{window_dpi(dialog)});
    state.modes = usable_display_modes();
    show_choices(dialog, state, choices_from_values(state));
    return true;
}

void on_apply(HWND dialog, ConfigDialogState& state) {
    // The file is the game client's: one that ran meanwhile may have written it, and the
    // save would put back what it held when the dialog opened.
    if (config_file_changed(state) &&
        show_message_box(dialog,
                         L"A(z) " + state.config_path.filename().wstring() +
                             L" megváltozott, mióta ez az ablak megnyílt (talán egy futó játék írta). "
                             L"Felülírod a most beállítottakkal?",
                         k_message_box_title, MB_YESNO | MB_ICONWARNING) != IDYES)
        return;
    store_choices(read_choices(dialog), state);
    if (save_config_file(state)) {
        ::DestroyWindow(dialog);
        return;
    }
    // The old file is untouched; the dialog stays open so the player can retry or cancel.
    show_message_box(dialog, L"Nem sikerült menteni a beállításokat: " + state.config_path.wstring(),
                     k_message_box_title, MB_OK | MB_ICONERROR);
}

// Enter (IsDialogMessageW's IDOK) applies as ALKALMAZ does and Escape (IDCANCEL) cancels
// as MÉGSE does; an open list takes both keys itself, so they fold it instead.
void on_command(HWND dialog, ConfigDialogState& state, int id) {
    if (id == k_cancel_button || id == IDCANCEL) ::DestroyWindow(dialog);
    if (id == k_apply_button || id == IDOK) on_apply(dialog, state);
}

LRESULT on_erase_background(HWND dialog, HDC dc) {
    RECT client{};
    ::GetClientRect(dialog, &client);
    UniqueBrush brush(::CreateSolidBrush(background()));
    ::FillRect(dc, &client, brush ? brush.get() : static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    return 1;
}

LRESULT on_static_colour(HDC dc) {
    ::SetTextColor(dc, label_text());
    ::SetBkColor(dc, background());
    // Hollow: the dark background drawn by WM_ERASEBKGND shows through. A check box
    // redraws its label on the opaque text background set above, so toggling leaves no
    // trace; a solid brush made Wine's check boxes lose their glyph after a few toggles.
    return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
}

// Moved to a monitor of another scale: the size the system suggests, the controls and
// their font at the new scale.
void on_dpi_changed(HWND dialog, ConfigDialogState& state, WPARAM wparam, LPARAM lparam) {
    if (auto const* suggested = reinterpret_cast<RECT const*>(lparam))
        ::SetWindowPos(dialog, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    UINT const dpi = LOWORD(wparam);
    lay_out(state, DisplayScale{dpi != 0 ? dpi : k_design_dpi});
    ::InvalidateRect(dialog, nullptr, TRUE);
}

void on_destroy(ConfigDialogState const& state) {
    ::EnableWindow(state.owner, TRUE);
    ::SetForegroundWindow(state.owner);
}

}  // namespace

LRESULT CALLBACK config_dialog_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* const state = static_cast<ConfigDialogState*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
        return ::DefWindowProcW(hwnd, message, wparam, lparam);
    }
    ConfigDialogState* const state = state_of(hwnd);
    if (!state) return ::DefWindowProcW(hwnd, message, wparam, lparam);

    try {
        switch (message) {
            case WM_CREATE:
                return on_create(hwnd, *state) ? 0 : -1;
            case WM_ERASEBKGND:
                return on_erase_background(hwnd, reinterpret_cast<HDC>(wparam));
            case WM_CTLCOLORSTATIC:
                return on_static_colour(reinterpret_cast<HDC>(wparam));
            case WM_DPICHANGED:
                on_dpi_changed(hwnd, *state, wparam, lparam);
                return 0;
            case WM_SYSCOLORCHANGE:
            case WM_SETTINGCHANGE:  // a contrast theme on or off: drawn again in its colours
                ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
                return 0;
            case WM_COMMAND:
                on_command(hwnd, *state, LOWORD(wparam));
                return 0;
            case WM_SETFOCUS:
                // The window itself takes no keys: the first control does, as in a dialog.
                ::SetFocus(::GetNextDlgTabItem(hwnd, nullptr, FALSE));
                return 0;
            case WM_CLOSE:
                ::DestroyWindow(hwnd);
                return 0;
            case WM_DESTROY:
                on_destroy(*state);
                return 0;
            case WM_NCDESTROY:
                // The children are gone by now, so nothing draws with the font any more;
                // the state outlives the window, so it must not be reached from here on.
                state->control_font.reset();
                state->controls.clear();
                ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
                return ::DefWindowProcW(hwnd, message, wparam, lparam);
        }
    } catch (...) {
        // Out of memory while building or saving: no exception may leave a window
        // procedure; the dialog stays as it is.
        if (message == WM_CREATE) return -1;
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace korvel
