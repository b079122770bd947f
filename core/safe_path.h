#pragma once
// Which relative paths from the patch server may be joined below the game folder.

#include <string_view>

namespace korvel {

// True when a relative path from the patch server may be joined below the game folder:
// 1..4096 bytes, not absolute, no drive or root, no "." or ".." element, no ':' or NUL,
// no Windows device name (CON, nul.txt, COM1 ...) and no element ending in a dot or a
// space, which Windows would silently rewrite to another name. The last element must not
// end in ".korvel.part" (any case): that suffix is the patcher's own temporary name.
// "/" and "\" both separate elements, as on Windows, whatever system this runs on.
// Throws "UTF-8 -> UTF-16 conversion failed" for invalid UTF-8.
bool is_safe_relative_path(std::string_view utf8_path);

}  // namespace korvel
