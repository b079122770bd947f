#pragma once
// What a player can reach in the main window, as one list built from the state the
// renderer draws: the keyboard's focus order, the focus ring and the screen readers'
// view all read it, so what is drawn, what Tab reaches and what is heard agree. Pure
// functions of WindowState; UI thread (they read the state).

#include "window/button_id.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

struct WindowState;

enum class ItemRole : std::int32_t { PushButton, Link, RadioButton, ProgressBar, StaticText, Alert };

// Identities that stay the same while items come and go: a button's is its ButtonId's
// value, the texts' follow them. A screen reader names an item by it (its child id).
inline constexpr std::int32_t k_item_server_status = 16;
inline constexpr std::int32_t k_item_progress = 17;
inline constexpr std::int32_t k_item_detail = 18;

struct AccessibleItem {
    std::int32_t id = 0;
    ButtonId button = ButtonId::None;  // None for the texts
    ItemRole role = ItemRole::StaticText;
    std::wstring name;
    std::wstring value;        // the progress bar's "N%"
    std::wstring description;  // the progress bar's detail line
    bool enabled = true;       // false exactly when pressing it does nothing
    bool checked = false;      // the chosen client count
    bool focusable = false;    // a button, link or radio button
    RECT rect{};               // design pixels
};

// Every item in reading order, which is also the order Tab walks: the title buttons,
// the news rows, the server status, the links, the progress, the client count, Repair
// and Play.
std::vector<AccessibleItem> accessible_items(WindowState const& state);

// The item with identity `id`, if the state has it.
std::optional<AccessibleItem> find_item(std::vector<AccessibleItem> const& items, std::int32_t id);

// The item that holds the keyboard focus: the one state.focus_id names while it can take
// it; else, starting at that one's place (at Play before any choice), the next that can,
// so the focus moves on from an item that becomes unavailable and comes back when it is
// available again. None when nothing can take the focus.
ButtonId focused_button(WindowState const& state, std::vector<AccessibleItem> const& items);

// Where Tab (forward) or Shift+Tab goes from the focused item: the next enabled stop,
// wrapping around. The news rows are one stop (entered at the first row), the client
// count is one stop (entered at the chosen count).
ButtonId next_tab_stop(WindowState const& state, std::vector<AccessibleItem> const& items, bool forward);

// Where an arrow, Home or End key moves inside the focused group: among the news rows
// Up/Down step (stopping at the ends) and Home/End jump; among the client counts the
// arrows step and wrap around, as in a group of radio buttons. None when the key does not
// move there.
ButtonId move_in_group(std::vector<AccessibleItem> const& items, ButtonId from, UINT key);

// The label drawn on a button (the renderer draws this very text); empty for the icon
// buttons and the news rows.
std::wstring button_label(WindowState const& state, ButtonId id);

// True for the news rows and the client count buttons.
bool is_news_row(ButtonId id);
bool is_count_button(ButtonId id);

}  // namespace korvel
