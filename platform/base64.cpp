#include "platform/base64.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>

namespace korvel {

namespace {

bool is_base64_alphabet(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

bool is_strict_base64(std::string_view text) {
    if (text.size() % 4 != 0) return false;
    std::size_t const body = text.find_last_not_of('=') + 1;  // npos + 1 == 0 for all '='
    if (text.size() - body > 2) return false;
    return std::all_of(text.begin(), text.begin() + body, is_base64_alphabet);
}

}  // namespace

std::optional<std::string> base64_decode(std::string_view text) {
    if (!is_strict_base64(text)) return std::nullopt;
    if (text.empty()) return std::string();
    DWORD size = static_cast<DWORD>(text.size());  // decoding never grows the data
    std::string bytes(size, '\0');
    if (!::CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64,
                                reinterpret_cast<BYTE*>(bytes.data()), &size, nullptr, nullptr))
        return std::nullopt;
    bytes.resize(size);
    return bytes;
}

}  // namespace korvel
