#pragma once
// What the game settings dialog edits: the game client's zivur2.cfg as key/value pairs,
// and the display modes the dialog offers. Owned by open_settings_dialog for the
// dialog's lifetime; UI thread only.

#include "platform/gdi_handles.h"

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

struct DisplayMode {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t frequency = 0;
    friend bool operator==(DisplayMode const&, DisplayMode const&) = default;
};

struct ConfigDialogState {
    HWND owner = nullptr;
    std::filesystem::path config_path;
    // Keys and values are the file's bytes; no character-set conversion takes place.
    std::map<std::string, std::string> values;
    std::vector<std::string> key_order;  // first appearance: file order, then keys the dialog adds
    std::vector<DisplayMode> modes;      // in the order the display-mode list shows them
    UniqueFont control_font;             // the dialog's, released once its controls are gone
    std::vector<HWND> controls;          // the dialog's controls, in creation order

    // A new key goes to the end of key_order; an existing one keeps its place.
    void set_value(std::string const& key, std::string value);
};

// Adds the pairs of a zivur2.cfg text to `state`, line by line: one trailing CR dropped;
// split at the first tab, space or '='; key and value trimmed; key upper-cased (ASCII);
// lines without a separator or with an empty key skipped.
void parse_config_text(std::string_view bytes, ConfigDialogState& state);

// The file rebuilt from the state alone: "KEY\tvalue\r\n" per key, key_order first, then
// any remaining key in byte order. Comments and blank lines are not kept.
std::string format_config_text(ConfigDialogState const& state);

// Reads config_path into the state; a file that cannot be read leaves the state empty.
void read_config_file(ConfigDialogState& state);

// Writes the state to config_path through a temporary file and a replace, creating the
// folder first. False, with the old file untouched, when any of that fails.
bool save_config_file(ConfigDialogState const& state) noexcept;

}  // namespace korvel
