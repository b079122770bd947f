#include "gamecfg/dialog_choices.h"

#include "core/parse_int.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

namespace korvel {

namespace {

// Like std::stod. NaN counts as unparsable too: it has no list position.
std::optional<double> parse_double(std::string const& text) {
    char const* const begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    double const value = std::strtod(begin, &end);
    if (end == begin || errno == ERANGE || std::isnan(value)) return std::nullopt;
    return value;
}

long long int_value(ConfigDialogState const& state, char const* key, long long fallback) {
    auto const found = state.values.find(key);
    if (found == state.values.end()) return fallback;
    if (std::optional<int> const value = parse_int(found->second)) return *value;
    return fallback;
}

int clamped(long long value, int low, int high) {
    return static_cast<int>(std::clamp<long long>(value, low, high));
}

std::string flag(bool on) {
    return on ? "1" : "0";
}

}  // namespace

DialogChoices choices_from_values(ConfigDialogState const& state) {
    DialogChoices choices;
    DisplayMode const wanted{static_cast<std::int32_t>(int_value(state, "WIDTH", 1280)),
                             static_cast<std::int32_t>(int_value(state, "HEIGHT", 720)),
                             static_cast<std::int32_t>(int_value(state, "FREQUENCY", 60))};
    auto const match = std::find(state.modes.begin(), state.modes.end(), wanted);
    if (match != state.modes.end())
        choices.mode = static_cast<int>(match - state.modes.begin());
    else if (!state.modes.empty())
        choices.mode = 0;

    choices.windowed = int_value(state, "WINDOWED", 1) != 0;
    choices.gamma = clamped(int_value(state, "GAMMA", 3) - 1, 0, 4);
    choices.shadow_level = clamped(int_value(state, "SHADOW_LEVEL", 3), 0, 3);

    double volume = 0.5;
    if (auto const found = state.values.find("MUSIC_VOLUME"); found != state.values.end())
        volume = parse_double(found->second).value_or(0.5);
    // Clamped as a double first: infinities and huge values must not reach an int cast.
    choices.music_volume = static_cast<int>(std::clamp(volume * 4 + 0.5, 0.0, 4.0));

    choices.voice_volume = clamped(int_value(state, "VOICE_VOLUME", 5), 0, 5);
    choices.night_mode = int_value(state, "NIGHT_MODE_ON", 0) != 0;
    choices.fog_mode = int_value(state, "FOG_MODE_ON", 1) != 0;
    choices.snow_mode = int_value(state, "SNOW_MODE_ON", 0) != 0;
    choices.snow_texture_mode = int_value(state, "SNOW_TEXTURE_MODE_ON", 0) != 0;
    return choices;
}

void store_choices(DialogChoices const& choices, ConfigDialogState& state) {
    if (choices.mode >= 0 && static_cast<size_t>(choices.mode) < state.modes.size()) {
        DisplayMode const& mode = state.modes[static_cast<size_t>(choices.mode)];
        state.set_value("WIDTH", std::to_string(mode.width));
        state.set_value("HEIGHT", std::to_string(mode.height));
        state.set_value("BPP", "32");
        state.set_value("FREQUENCY", std::to_string(mode.frequency));
    }
    static char const* const volumes[] = {"0.0", "0.25", "0.5", "0.75", "1.0"};
    state.set_value("WINDOWED", flag(choices.windowed));
    state.set_value("GAMMA", std::to_string(choices.gamma + 1));
    state.set_value("SHADOW_LEVEL", std::to_string(choices.shadow_level));
    state.set_value("MUSIC_VOLUME", volumes[std::clamp(choices.music_volume, 0, 4)]);
    state.set_value("VOICE_VOLUME", std::to_string(choices.voice_volume));
    state.set_value("NIGHT_MODE_ON", flag(choices.night_mode));
    state.set_value("FOG_MODE_ON", flag(choices.fog_mode));
    state.set_value("SNOW_MODE_ON", flag(choices.snow_mode));
    state.set_value("SNOW_TEXTURE_MODE_ON", flag(choices.snow_texture_mode));
}

}  // namespace korvel
