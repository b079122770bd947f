#pragma once
// Strict conversion between UTF-8 byte strings (network, JSON, messages) and UTF-16
// wide strings (paths, window texts). Malformed input throws std::runtime_error;
// nothing is ever replaced or skipped. Pure functions, any thread.

#include <string>
#include <string_view>

namespace korvel {

// Throws "UTF-8 -> UTF-16 conversion failed".
std::wstring utf8_to_wide(std::string_view utf8);

// Throws "UTF-16 -> UTF-8 conversion failed".
std::string wide_to_utf8(std::wstring_view wide);

}  // namespace korvel
