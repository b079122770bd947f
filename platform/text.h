#pragma once
// Strict conversion between UTF-8 byte strings (network, JSON, messages) and UTF-16
// wide strings (paths, window texts). Malformed input throws Win32Error (win32_error.h)
// with the text below and the system's code; nothing is ever replaced or skipped. Pure functions, any thread.

#include <filesystem>
#include <string>
#include <string_view>

namespace korvel {

// Throws "UTF-8 -> UTF-16 conversion failed".
std::wstring utf8_to_wide(std::string_view utf8);

// Throws "UTF-16 -> UTF-8 conversion failed".
std::string wide_to_utf8(std::wstring_view wide);

// A path as UTF-8, for messages and documents. Throws the UTF-16 conversion error.
std::string path_text(std::filesystem::path const& path);

// For text that must be shown or read whatever its bytes: UTF-8 when it is valid,
// otherwise one UTF-16 unit per byte by sign extension (0x80..0xFF become
// 0xFF80..0xFFFF, where no ASCII text can match them by accident). Never throws a
// conversion error; not for paths on disk.
std::wstring utf8_or_bytes_to_wide(std::string_view text);

}  // namespace korvel
