#pragma once
// ASCII-only case folding for hashes and file names from the server: other bytes,
// including every byte of a multi-byte UTF-8 sequence, stay as they are, whatever the
// process locale says.

#include <string>
#include <string_view>

namespace korvel {

inline std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

inline std::string ascii_upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

}  // namespace korvel
