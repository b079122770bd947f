#include "core/parse_int.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwchar>

namespace korvel {

namespace {

template <typename Char, typename Parse>
std::optional<int> parse_with(Char const* begin, Parse parse) {
    Char* end = nullptr;
    errno = 0;
    long long const value = parse(begin, &end, 10);
    if (end == begin || errno == ERANGE || value < INT_MIN || value > INT_MAX) return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace

std::optional<int> parse_int(std::string const& text) {
    return parse_with(text.c_str(), [](char const* b, char** e, int base) { return std::strtoll(b, e, base); });
}

std::optional<int> parse_int(std::wstring const& text) {
    return parse_with(text.c_str(), [](wchar_t const* b, wchar_t** e, int base) { return std::wcstoll(b, e, base); });
}

}  // namespace korvel
