// The zivur2.cfg rules as known answers: bytes written to a real file, read as the dialog
// opens, the dialog's choices stored and saved, bytes read back.

#include "gamecfg/config_state.h"
#include "gamecfg/dialog_choices.h"
#include "gamecfg/display_modes.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <tuple>

namespace korvel {
namespace {

std::vector<DisplayMode> const k_modes{{800, 600, 60}, {1024, 768, 60}, {1920, 1080, 144}};

// Opens `before` as the dialog does, lets `change` act as the player, saves, returns the
// file's bytes.
std::string save_round_trip(std::optional<std::string> const& before, std::vector<DisplayMode> const& modes,
                            std::function<void(DialogChoices&)> const& change = {}) {
    test::TempDir dir("cfg");
    ConfigDialogState state;
    state.config_path = dir / "UserData" / "zivur2.cfg";  // made when missing
    if (before) test::write_file(state.config_path, *before);
    read_config_file(state);
    state.modes = modes;
    DialogChoices choices = choices_from_values(state);
    if (change) change(choices);
    store_choices(choices, state);
    EXPECT_TRUE(save_config_file(state));
    EXPECT_FALSE(std::filesystem::exists(state.config_path.wstring() + L".tmp"));
    return test::read_file(state.config_path);
}

std::string const k_defaults_tail =
    "WINDOWED\t1\r\nGAMMA\t3\r\nSHADOW_LEVEL\t3\r\nMUSIC_VOLUME\t0.5\r\nVOICE_VOLUME\t5\r\n"
    "NIGHT_MODE_ON\t0\r\nFOG_MODE_ON\t1\r\nSNOW_MODE_ON\t0\r\nSNOW_TEXTURE_MODE_ON\t0\r\n";

TEST(ConfigFile, WholeFilesInAndOut) {
    struct Case {
        char const* name;
        std::optional<std::string> before;
        std::vector<DisplayMode> modes;
        std::string after;
    };
    Case const cases[] = {
        {"no file nor folder: the thirteen keys, the first mode", std::nullopt, k_modes,
         "WIDTH\t800\r\nHEIGHT\t600\r\nBPP\t32\r\nFREQUENCY\t60\r\n" + k_defaults_tail},
        {"no usable mode: no display keys", "", {}, k_defaults_tail},
        {"lower case, repeats, comments, blanks, CRs and foreign keys",
         "#comment\r\n\r\nwidth\t1024\r\nHEIGHT 768\nfrequency=60\r\nName\tKorvel  j\xc3\xa1t\xc3\xa9kos \r\n"
         "GAMMA\t2\r\nNAME\tSecond\r\n  INDENTED 5\r\nnoseparator\r\nEXTRA\tx\r\r\nEMPTY=\r\nlast 1",
         k_modes,
         "WIDTH\t1024\r\nHEIGHT\t768\r\nFREQUENCY\t60\r\nNAME\tSecond\r\nGAMMA\t2\r\nEXTRA\tx\r\nEMPTY\t\r\n"
         "LAST\t1\r\nBPP\t32\r\nWINDOWED\t1\r\nSHADOW_LEVEL\t3\r\nMUSIC_VOLUME\t0.5\r\nVOICE_VOLUME\t5\r\n"
         "NIGHT_MODE_ON\t0\r\nFOG_MODE_ON\t1\r\nSNOW_MODE_ON\t0\r\nSNOW_TEXTURE_MODE_ON\t0\r\n"},
        {"a comment with a space is a pair like any other", "# note\r\n", {}, "#\tnote\r\n" + k_defaults_tail},
        {"'WIDTH = 1024' splits at the space: no match, the first mode",
         "WIDTH = 1024\r\nHEIGHT\t768\r\nFREQUENCY\t60\r\n", k_modes,
         "WIDTH\t800\r\nHEIGHT\t600\r\nFREQUENCY\t60\r\nBPP\t32\r\n" + k_defaults_tail},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(save_round_trip(c.before, c.modes), c.after);
    }
}

TEST(ConfigFile, EveryChoiceChangedByThePlayer) {
    std::string const after = save_round_trip("SHADOW_LEVEL\t1\r\nOTHER\tkeep\r\n", k_modes, [](DialogChoices& c) {
        c = {2, false, 0, 0, 4, 0, true, false, true, true};
    });
    EXPECT_EQ(after,
              "SHADOW_LEVEL\t0\r\nOTHER\tkeep\r\nWIDTH\t1920\r\nHEIGHT\t1080\r\nBPP\t32\r\nFREQUENCY\t144\r\n"
              "WINDOWED\t0\r\nGAMMA\t1\r\nMUSIC_VOLUME\t1.0\r\nVOICE_VOLUME\t0\r\nNIGHT_MODE_ON\t1\r\n"
              "FOG_MODE_ON\t0\r\nSNOW_MODE_ON\t1\r\nSNOW_TEXTURE_MODE_ON\t1\r\n");
}

// One value in the file, the line the unchanged dialog writes for it: parsing, clamping
// and defaults.
TEST(ConfigFile, ValuesReadClampedAndWrittenBack) {
    struct Case {
        char const* line;
        char const* written;
    };
    Case const cases[] = {
        {"GAMMA\t9", "GAMMA\t5"}, {"GAMMA\t0", "GAMMA\t1"}, {"GAMMA\t-2", "GAMMA\t1"}, {"GAMMA\t 4x", "GAMMA\t4"},
        {"gamma\t-2147483648", "GAMMA\t1"}, {"SHADOW_LEVEL\t7", "SHADOW_LEVEL\t3"},
        {"SHADOW_LEVEL\t-1", "SHADOW_LEVEL\t0"}, {"SHADOW_LEVEL\tmagas", "SHADOW_LEVEL\t3"},
        {"MUSIC_VOLUME\t0.6", "MUSIC_VOLUME\t0.5"}, {"MUSIC_VOLUME\t0.65", "MUSIC_VOLUME\t0.75"},
        {"MUSIC_VOLUME\t2", "MUSIC_VOLUME\t1.0"}, {"MUSIC_VOLUME\t-0.3", "MUSIC_VOLUME\t0.0"},
        {"MUSIC_VOLUME\tabc", "MUSIC_VOLUME\t0.5"}, {"MUSIC_VOLUME\tnan", "MUSIC_VOLUME\t0.5"},
        {"MUSIC_VOLUME\tinf", "MUSIC_VOLUME\t1.0"}, {"MUSIC_VOLUME\t1e999", "MUSIC_VOLUME\t0.5"},
        {"WINDOWED\t1.0", "WINDOWED\t1"}, {"WINDOWED\t0.9", "WINDOWED\t0"}, {"WINDOWED\tx", "WINDOWED\t1"},
        {"VOICE_VOLUME\t99999999999", "VOICE_VOLUME\t5"}, {"VOICE_VOLUME\t+2", "VOICE_VOLUME\t2"},
        {"NIGHT_MODE_ON\t+2", "NIGHT_MODE_ON\t1"}, {"FOG_MODE_ON\t0", "FOG_MODE_ON\t0"},
        {"SNOW_MODE_ON=1", "SNOW_MODE_ON\t1"}, {"SNOW_TEXTURE_MODE_ON 1", "SNOW_TEXTURE_MODE_ON\t1"}};
    for (Case const& c : cases) {
        SCOPED_TRACE(c.line);
        std::string const after = save_round_trip(std::string(c.line) + "\r\n", {});
        EXPECT_EQ(after.substr(0, after.find("\r\n")), c.written);  // the file's key keeps its first place
    }
}

TEST(DisplayModes, FilteredSortedAndListedOnce) {
    // bits, width, height, frequency
    std::vector<std::array<DWORD, 4>> const raw{{32, 1024, 768, 60}, {16, 1920, 1080, 60}, {32, 800, 600, 75},
                                                {32, 799, 600, 60},  {32, 800, 599, 60},   {24, 1280, 720, 60},
                                                {32, 1024, 768, 60}, {32, 1024, 768, 50},  {32, 640, 480, 60},
                                                {32, 900, 700, 60}};
    auto const modes = usable_display_modes([&](DWORD index, DEVMODEW& mode) {
        EXPECT_EQ(mode.dmSize, 220);
        if (index >= raw.size()) return false;
        std::tie(mode.dmBitsPerPel, mode.dmPelsWidth, mode.dmPelsHeight, mode.dmDisplayFrequency) =
            std::tuple_cat(raw[index]);
        return true;
    });
    EXPECT_EQ(modes, (std::vector<DisplayMode>{{800, 600, 75}, {900, 700, 60}, {1024, 768, 50}, {1024, 768, 60}}));
}

}  // namespace
}  // namespace korvel
