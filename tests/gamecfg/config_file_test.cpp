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
std::string const k_defaults_tail_without_gamma =
    "WINDOWED\t1\r\nSHADOW_LEVEL\t3\r\nMUSIC_VOLUME\t0.5\r\nVOICE_VOLUME\t5\r\n"
    "NIGHT_MODE_ON\t0\r\nFOG_MODE_ON\t1\r\nSNOW_MODE_ON\t0\r\nSNOW_TEXTURE_MODE_ON\t0\r\n";

// Text with each CRLF turned into LF.
std::string lf(std::string text) {
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    return text;
}

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
        {"lower case, repeats, comments, blanks, CRs and foreign keys: every line kept",
         "#comment\r\n\r\nwidth\t1024\r\nHEIGHT 768\nfrequency=60\r\nName\tKorvel  j\xc3\xa1t\xc3\xa9kos \r\n"
         "GAMMA\t2\r\nNAME\tSecond\r\n  INDENTED 5\r\nnoseparator\r\nEXTRA\tx\r\r\nEMPTY=\r\nlast 1",
         k_modes,
         "#comment\r\n\r\nwidth\t1024\r\nHEIGHT 768\nfrequency=60\r\nName\tKorvel  j\xc3\xa1t\xc3\xa9kos \r\n"
         "GAMMA\t2\r\nNAME\tSecond\r\n  INDENTED 5\r\nnoseparator\r\nEXTRA\tx\r\r\nEMPTY=\r\nlast 1\r\n"
         "BPP\t32\r\nWINDOWED\t1\r\nSHADOW_LEVEL\t3\r\nMUSIC_VOLUME\t0.5\r\nVOICE_VOLUME\t5\r\n"
         "NIGHT_MODE_ON\t0\r\nFOG_MODE_ON\t1\r\nSNOW_MODE_ON\t0\r\nSNOW_TEXTURE_MODE_ON\t0\r\n"},
        {"a comment with a space is kept as it stands", "# note\r\n", {}, "# note\r\n" + k_defaults_tail},
        {"a repeated key the dialog changes: changed on each of its lines, its separators kept",
         "gamma = 9\nGAMMA\t 4x \n", {}, "gamma 4\nGAMMA\t 4 \n" + lf(k_defaults_tail_without_gamma)},
        {"'WIDTH = 1024' splits at the space: no match, the first mode in its place",
         "WIDTH = 1024\r\nHEIGHT\t768\r\nFREQUENCY\t60\r\n", k_modes,
         "WIDTH 800\r\nHEIGHT\t600\r\nFREQUENCY\t60\r\nBPP\t32\r\n" + k_defaults_tail},
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

enum class Utf16 { no, le, be };

// `lines` joined by `ending` (and ended by it when `ended`) as a file: `mark` first, the
// text in UTF-16 of the given byte order, or as its UTF-8 bytes.
std::string file_of(std::vector<std::string> const& lines, std::string_view mark, Utf16 utf16,
                    std::string_view ending, bool ended) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i)
        text += lines[i] + (i + 1 < lines.size() || ended ? std::string(ending) : "");
    std::string bytes(mark);
    if (utf16 == Utf16::no) return bytes + text;
    std::wstring wide(text.size(), L'\0');
    wide.resize(::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                      wide.data(), static_cast<int>(wide.size())));
    for (wchar_t const unit : wide) {
        char const low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        bytes += utf16 == Utf16::le ? std::string{low, high} : std::string{high, low};
    }
    return bytes;
}

// The settings in each encoding and line ending a zivur2.cfg comes in, with a comment, a
// blank line and keys the dialog does not edit: read whole (the first key too, behind a
// byte-order mark), saved unchanged byte for byte; a change alters its line alone, and
// missing keys are added in the file's own encoding and line ending.
TEST(ConfigFile, EveryEncodingAndLineEndingKeptByteForByte) {
    struct Case {
        char const* name;
        std::string_view mark;
        Utf16 utf16;
        std::string_view ending;
        bool ended;
    };
    Case const cases[] = {
        {"plain, CRLF", "", Utf16::no, "\r\n", true},
        {"plain, LF, no last line feed", "", Utf16::no, "\n", false},
        {"UTF-8 with a byte-order mark, CRLF", "\xEF\xBB\xBF", Utf16::no, "\r\n", true},
        {"UTF-8 with a byte-order mark, LF", "\xEF\xBB\xBF", Utf16::no, "\n", true},
        {"UTF-16 LE, CRLF", "\xFF\xFE", Utf16::le, "\r\n", true},
        {"UTF-16 LE, LF, no last line feed", "\xFF\xFE", Utf16::le, "\n", false},
        {"UTF-16 BE, CRLF", "\xFE\xFF", Utf16::be, "\r\n", true},
    };
    std::vector<std::string> const lines = {
        "WIDTH\t1024", "HEIGHT\t768", "BPP\t32", "FREQUENCY\t60", "; Korvel2 kliens \xE2\x80\x93 ne szerkeszd", "",
        "NAME\tJ\xC3\xA1t\xC3\xA9kos Egy", "WINDOWED\t0", "GAMMA\t2", "SHADOW_LEVEL\t1", "MUSIC_VOLUME\t0.25",
        "VOICE_VOLUME\t4", "NIGHT_MODE_ON\t1", "FOG_MODE_ON\t0", "SNOW_MODE_ON\t1", "SNOW_TEXTURE_MODE_ON\t0",
        "render = dx9"};
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        auto const file = [&](std::vector<std::string> const& with, bool ended) {
            return file_of(with, c.mark, c.utf16, c.ending, ended);
        };
        std::string const before = file(lines, c.ended);
        DialogChoices shown;
        EXPECT_EQ(save_round_trip(before, k_modes, [&](DialogChoices& choices) { shown = choices; }), before);
        EXPECT_TRUE(shown.mode == 1 && !shown.windowed && shown.gamma == 1 && shown.shadow_level == 1 &&
                    shown.music_volume == 1 && shown.voice_volume == 4 && shown.night_mode && !shown.fog_mode &&
                    shown.snow_mode && !shown.snow_texture_mode)
            << "the file's values, not the defaults";

        std::vector<std::string> changed = lines;
        changed[8] = "GAMMA\t5";
        EXPECT_EQ(save_round_trip(before, k_modes, [](DialogChoices& choices) { choices.gamma = 4; }),
                  file(changed, c.ended));

        std::vector<std::string> const partial(lines.begin() + 4, lines.end());  // no display mode
        std::vector<std::string> completed = partial;
        completed.insert(completed.end(), {"WIDTH\t800", "HEIGHT\t600", "BPP\t32", "FREQUENCY\t60"});
        EXPECT_EQ(save_round_trip(file(partial, c.ended), k_modes), file(completed, true));
    }
}

// A game client that writes the file while the dialog is open: seen before the save.
TEST(ConfigFile, AChangeOnDiskSinceReadingIsSeen) {
    test::TempDir dir("cfg");
    ConfigDialogState state;
    state.config_path = dir / "zivur2.cfg";
    read_config_file(state);
    EXPECT_FALSE(config_file_changed(state)) << "missing then, missing now";
    test::write_file(state.config_path, "\xEF\xBB\xBFGAMMA\t2\r\n");
    EXPECT_TRUE(config_file_changed(state));
    read_config_file(state);
    EXPECT_FALSE(config_file_changed(state));
    test::write_file(state.config_path, "\xEF\xBB\xBFGAMMA\t3\r\n");
    EXPECT_TRUE(config_file_changed(state));
    std::filesystem::remove(state.config_path);
    EXPECT_TRUE(config_file_changed(state));
}

// One value in the file, the line the unchanged dialog writes for it: parsing, clamping
// and defaults.
TEST(ConfigFile, ValuesReadClampedAndWrittenBack) {
    struct Case {
        char const* line;
        char const* written;
    };
    Case const cases[] = {
        {"GAMMA\t9", "GAMMA\t5"}, {"GAMMA\t0", "GAMMA\t1"}, {"GAMMA\t-2", "GAMMA\t1"}, {"GAMMA\t 4x", "GAMMA\t 4"},
        {"gamma\t-2147483648", "gamma\t1"}, {"SHADOW_LEVEL\t7", "SHADOW_LEVEL\t3"},
        {"SHADOW_LEVEL\t-1", "SHADOW_LEVEL\t0"}, {"SHADOW_LEVEL\tmagas", "SHADOW_LEVEL\t3"},
        {"MUSIC_VOLUME\t0.6", "MUSIC_VOLUME\t0.5"}, {"MUSIC_VOLUME\t0.65", "MUSIC_VOLUME\t0.75"},
        {"MUSIC_VOLUME\t2", "MUSIC_VOLUME\t1.0"}, {"MUSIC_VOLUME\t-0.3", "MUSIC_VOLUME\t0.0"},
        {"MUSIC_VOLUME\tabc", "MUSIC_VOLUME\t0.5"}, {"MUSIC_VOLUME\tnan", "MUSIC_VOLUME\t0.5"},
        {"MUSIC_VOLUME\tinf", "MUSIC_VOLUME\t1.0"}, {"MUSIC_VOLUME\t1e999", "MUSIC_VOLUME\t0.5"},
        {"WINDOWED\t1.0", "WINDOWED\t1"}, {"WINDOWED\t0.9", "WINDOWED\t0"}, {"WINDOWED\tx", "WINDOWED\t1"},
        {"VOICE_VOLUME\t99999999999", "VOICE_VOLUME\t5"}, {"VOICE_VOLUME\t+2", "VOICE_VOLUME\t2"},
        {"NIGHT_MODE_ON\t+2", "NIGHT_MODE_ON\t1"}, {"FOG_MODE_ON\t0", "FOG_MODE_ON\t0"},
        {"SNOW_MODE_ON=1", "SNOW_MODE_ON=1"}, {"SNOW_TEXTURE_MODE_ON 1", "SNOW_TEXTURE_MODE_ON 1"},
        {"SNOW_MODE_ON=2", "SNOW_MODE_ON=1"}};
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
