#pragma once
// Reading a decimal number from a settings text or a command-line argument. Pure
// functions, any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvel {

// As std::stoi reads base 10: leading white space and a sign allowed, reading stops at
// the first non-digit. Nothing when no digit comes first or the value does not fit an int.
std::optional<int> parse_int(std::string const& text);
std::optional<int> parse_int(std::wstring const& text);

// Digits only (no sign, no white space, nothing after them), as a record or an option
// holds an unsigned 64-bit number. Nothing when `text` is empty, holds anything else or
// the value does not fit.
std::optional<std::uint64_t> parse_u64(std::string_view text);

}  // namespace korvel
