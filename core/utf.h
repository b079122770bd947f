#pragma once
// Strict UTF-8 <-> UTF-16 conversion with the same verdicts on every system: overlong
// forms, encoded surrogates, values past U+10FFFF, truncated sequences and unpaired
// surrogates all fail; nothing is ever replaced or skipped. Pure functions, any thread.

#include <string>
#include <string_view>

namespace korvel {

// Throws std::runtime_error "UTF-8 -> UTF-16 conversion failed".
std::u16string utf8_to_utf16(std::string_view utf8);

// Throws std::runtime_error "UTF-16 -> UTF-8 conversion failed".
std::string utf16_to_utf8(std::u16string_view utf16);

}  // namespace korvel
