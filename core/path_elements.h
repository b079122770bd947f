#pragma once
// Walking a relative path the way Windows splits it: either slash separates, and empty
// elements (doubled or trailing separators) name nothing. For UTF-8 paths from the
// server as for wide paths on disk.

#include <cstddef>
#include <string_view>

namespace korvel {

template <typename Char>
constexpr bool is_path_separator(Char c) {
    return c == Char('/') || c == Char('\\');
}

// Calls visit(element) for every non-empty element of `path`, first to last.
template <typename Char, typename Visit>
void for_each_path_element(std::basic_string_view<Char> path, Visit&& visit) {
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = start;
        while (end < path.size() && !is_path_separator(path[end])) ++end;
        if (end > start) visit(path.substr(start, end - start));
        start = end + 1;
    }
}

}  // namespace korvel
