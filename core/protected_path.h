#pragma once
// The files a patch never touches: the launcher itself, the game's two settings files
// and the player's UserData folder. Manifest entries and deletions naming them are
// skipped, and the hash cache never holds them.

#include <string>
#include <string_view>

namespace korvel {

// True when the UTF-8 relative path names, below the game folder, "davari.exe",
// "zivur2.cfg", "mouse.cfg", the "userdata" folder or anything inside it. Compared the
// way Windows resolves names: letters in any case, "/" and "\" alike, doubled, leading
// and trailing separators and "." elements ignored, trailing dots and spaces of an
// element dropped. Only the top level counts: "sub/zivur2.cfg" is an ordinary file.
bool is_protected_path(std::string_view utf8_path);

// True when the UTF-8 relative path lies in, or is, one of the launcher's own folders
// below the game folder: ".korvel" (the patch lock, the part records, the release
// sequence) or ".korvel_update" (the staged launcher). Compared as above.
bool is_launcher_state_path(std::string_view utf8_path);

// The name under which Windows finds the UTF-8 relative path, as a text to compare: the
// same rules as above (letters upper-cased by the system's fixed table, so also accented
// ones; either separator; empty and "." elements, trailing dots and spaces dropped),
// elements joined by "/". Two paths with equal keys reach the same file.
std::string windows_name_key(std::string_view utf8_path);

}  // namespace korvel
