#pragma once
// Reading a decimal number from a settings text or a command-line argument. Pure
// functions, any thread.

#include <optional>
#include <string>

namespace korvel {

// As std::stoi reads base 10: leading white space and a sign allowed, reading stops at
// the first non-digit. Nothing when no digit comes first or the value does not fit an int.
std::optional<int> parse_int(std::string const& text);
std::optional<int> parse_int(std::wstring const& text);

}  // namespace korvel
