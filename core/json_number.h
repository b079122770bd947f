#pragma once
// Reading sizes and times from parsed JSON.

#include <nlohmann/json.hpp>

#include <cstdint>

namespace korvel {

// The JSON library's unsigned 64-bit reading: integers as the library converts them
// (negative ones wrap), fractions truncated, anything but a number its type error 302.
// A float whose truncated value does not fit, where a plain conversion would be
// undefined behaviour, is brought into range: a negative one wraps like the integer it
// truncates to (-1.5 reads as -1 does), saturating at -2^63; one of 2^64 or more reads
// as the largest number.
std::uint64_t json_to_u64(nlohmann::json const& value);

}  // namespace korvel
