#pragma once
// Base64 of RFC 4648 (standard alphabet, padded), decoded by the system's crypt32.

#include <optional>
#include <string>
#include <string_view>

namespace korvel {

// The decoded bytes, or nothing when `text` is not strictly base64: only the alphabet,
// a length that is a multiple of four, at most two '=' and only at the end. No spaces
// or line breaks, which the system's decoder alone would let through.
std::optional<std::string> base64_decode(std::string_view text);

}  // namespace korvel
