#pragma once
// The dialog's controls as plain values: what the file's values select when the dialog
// opens, and the values that "ALKALMAZ" stores back.

#include "gamecfg/config_state.h"

namespace korvel {

struct DialogChoices {
    int mode = -1;  // index into modes; -1: nothing selected
    bool windowed = true;
    int gamma = 2;         // 0..4 shows "1".."5"
    int shadow_level = 3;  // 0..3
    int music_volume = 2;  // 0..4 shows 0% .. 100%
    int voice_volume = 5;  // 0..5
    bool night_mode = false;
    bool fog_mode = true;
    bool snow_mode = false;
    bool snow_texture_mode = false;
};

// What the controls show for the state's values; missing or unparsable values give the
// defaults, numbers out of a list's range are clamped to it.
DialogChoices choices_from_values(ConfigDialogState const& state);

// Stores the choices with set_value: the mode's WIDTH, HEIGHT, BPP "32" and FREQUENCY
// (only with a valid mode index), then WINDOWED ... SNOW_TEXTURE_MODE_ON.
void store_choices(DialogChoices const& choices, ConfigDialogState& state);

}  // namespace korvel
