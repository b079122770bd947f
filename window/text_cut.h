#pragma once
// Cutting window texts where a reader sees a character end: never inside a surrogate
// pair, never between a letter and the combining marks or joiners that belong to it.
// Pure functions, any thread.

#include <cstddef>
#include <functional>
#include <string_view>

namespace korvel {

// True when `text` may be cut before index `at` (0 and text.size() always may).
bool is_character_boundary(std::wstring_view text, std::size_t at) noexcept;

// The longest prefix of at most `max_units` UTF-16 units that ends on a boundary.
std::wstring_view cut_at_boundary(std::wstring_view text, std::size_t max_units) noexcept;

// The length of the longest prefix ending on a boundary for which `fits` holds, found
// by bisection (`fits` must hold for every shorter prefix when it holds for a longer
// one); 0 when none does.
std::size_t longest_fitting_prefix(std::wstring_view text, std::function<bool(std::wstring_view)> const& fits);

}  // namespace korvel
