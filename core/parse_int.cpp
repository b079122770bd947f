#include "core/parse_int.h"

#include <cerrno>
#include <climits>
#include <cstdint>
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

std::optional<std::uint64_t> parse_u64(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char const c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        std::uint64_t const digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace korvel
