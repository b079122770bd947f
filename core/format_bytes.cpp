#include "core/format_bytes.h"

#include <array>
#include <charconv>

namespace korvel {

namespace {

std::string format_in(double bytes, std::array<char const*, 5> const& units) {
    double value = bytes;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < units.size()) {
        value /= 1024.0;
        ++unit;
    }
    std::array<char, 64> text{};
    int const decimals = bytes >= 1024.0 ? 1 : 0;
    auto const result = std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, decimals);
    return std::string(text.data(), result.ptr) + " " + units[unit];
}

}  // namespace

std::string format_bytes(double bytes) {
    return format_in(bytes, {"B", "KB", "MB", "GB", "TB"});
}

std::string format_binary_bytes(double bytes) {
    return format_in(bytes, {"B", "KiB", "MiB", "GiB", "TiB"});
}

}  // namespace korvel
