#include "core/release_keys.h"

#include <algorithm>

namespace korvel {

std::vector<std::string> split_release_keys(std::string_view keys) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= keys.size()) {
        std::size_t end = keys.find_first_of(",;", start);
        if (end == std::string_view::npos) end = keys.size();
        std::string_view key = keys.substr(start, end - start);
        std::size_t const first = key.find_first_not_of(" \t\r\n");
        if (first != std::string_view::npos)
            out.emplace_back(key.substr(first, key.find_last_not_of(" \t\r\n") - first + 1));
        start = end + 1;
    }
    return out;
}

bool looks_like_release_key(std::string_view key) {
    auto const base64 = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    };
    // 0x04 (uncompressed) as the first byte makes the first character "B"; 65 bytes end in
    // a group of two bytes: three characters and one "=".
    return key.size() == 88 && key.front() == 'B' && key.back() == '=' &&
           std::all_of(key.begin(), key.end() - 1, base64);
}

}  // namespace korvel
