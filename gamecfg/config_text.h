#pragma once
// zivur2.cfg as text lines in the encoding it came in: the game client's file is written
// back the way it was read, so that a save never mixes encodings in one file and every
// line the dialog does not change keeps its bytes. Pure; any thread.

#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// Told apart by the byte-order mark; a file without one is taken as bytes, unconverted.
enum class ConfigEncoding { bytes, utf8_bom, utf16_le, utf16_be };

struct ConfigLine {
    std::string raw;     // the line as the file holds it, its ending included
    std::string text;    // without the ending: the bytes as they are, or UTF-8 of UTF-16
    std::string ending;  // "\r\n", "\n", or "" on a last line without one
};

struct ConfigText {
    ConfigEncoding encoding = ConfigEncoding::bytes;
    std::vector<ConfigLine> lines;
};

// Splits a file into lines at each line feed; a carriage return right before it belongs
// to the ending. A UTF-16 line that is not valid UTF-16 (or an odd last byte) keeps its
// bytes in `raw` and has no text.
ConfigText split_config_text(std::string_view bytes);

// `text` in the file's encoding: UTF-16 converted from UTF-8, bytes as they are. Throws the
// conversion error for a UTF-16 file and text that is not UTF-8.
std::string encode_config_text(ConfigEncoding encoding, std::string_view text);

// The byte-order mark the encoding starts the file with ("" for bytes).
std::string_view config_preamble(ConfigEncoding encoding);

// A line of `text` with `ending`, in the file's encoding.
ConfigLine make_config_line(ConfigEncoding encoding, std::string text, std::string ending);

}  // namespace korvel
