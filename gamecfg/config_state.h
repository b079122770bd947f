#pragma once
// What the game settings dialog edits: the game client's zivur2.cfg as key/value pairs,
// and the display modes the dialog offers. Owned by open_settings_dialog for the
// dialog's lifetime; UI thread only.

#include "gamecfg/config_text.h"
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
    ConfigText file;  // as read, line by line: what a save keeps
    // Keys upper-cased (ASCII); values as the lines hold them: the file's bytes, or UTF-8
    // for a UTF-16 file.
    std::map<std::string, std::string> values;
    std::vector<std::string> key_order;  // first appearance: file order, then keys the dialog adds
    std::vector<DisplayMode> modes;      // in the order the display-mode list shows them
    UniqueFont control_font;             // the dialog's, released once its controls are gone
    std::vector<HWND> controls;          // the dialog's controls, in creation order

    // A new key goes to the end of key_order; an existing one keeps its place.
    void set_value(std::string const& key, std::string value);
};

// Takes a zivur2.cfg's bytes into `state`: its lines, and their pairs: split at the first
// tab, space or '='; key and value trimmed; key upper-cased (ASCII); lines without a
// separator or with an empty key hold none. A repeated key keeps its first place and its
// last value.
void read_config_text(std::string_view bytes, ConfigDialogState& state);

// The file as read with the state's values in it, in the encoding it came in (its
// byte-order mark kept): every line as it was, but for the value of each pair whose key
// now holds another value than the file gave it; keys the file lacked follow, one
// "KEY\tvalue" line each in key_order, with the file's own line ending (CRLF in a file
// without one). Comments, blank lines and the keys the dialog does not edit belong to the
// game client and stay untouched.
std::string format_config_text(ConfigDialogState const& state);

// Reads config_path into the state; a file that cannot be read leaves the state empty.
void read_config_file(ConfigDialogState& state);

// True when config_path no longer holds what read_config_file found there: a game client
// running meanwhile may have written it.
bool config_file_changed(ConfigDialogState const& state);

// Writes the state to config_path through a temporary file and a replace, creating the
// folder first. False, with the old file untouched, when any of that fails.
bool save_config_file(ConfigDialogState const& state) noexcept;

}  // namespace korvel
