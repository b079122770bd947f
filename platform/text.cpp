#include "platform/text.h"

#include "platform/win32_error.h"

#include <windows.h>

#include <stdexcept>

namespace korvel {

namespace {

// The texts are the ones callers and players know; the code (mostly
// ERROR_NO_UNICODE_TRANSLATION) travels beside them.
Win32Error conversion_failure(char const* text) {
    DWORD const code = last_error_of_failure();
    return Win32Error::keeping_text(text, code);
}

}  // namespace

std::wstring utf8_to_wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    int const length = static_cast<int>(utf8.size());
    int const needed = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
    if (needed <= 0) throw conversion_failure("UTF-8 -> UTF-16 conversion failed");
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, wide.data(), needed) == 0)
        throw conversion_failure("UTF-8 -> UTF-16 conversion failed");
    return wide;
}

std::string wide_to_utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    int const length = static_cast<int>(wide.size());
    int const needed =
        ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) throw conversion_failure("UTF-16 -> UTF-8 conversion failed");
    std::string utf8(static_cast<size_t>(needed), '\0');
    if (::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length, utf8.data(), needed, nullptr,
                              nullptr) == 0)
        throw conversion_failure("UTF-16 -> UTF-8 conversion failed");
    return utf8;
}

std::string path_text(std::filesystem::path const& path) {
    return wide_to_utf8(path.native());
}

std::wstring utf8_or_bytes_to_wide(std::string_view text) {
    try {
        return utf8_to_wide(text);
    } catch (std::runtime_error const&) {
        std::wstring wide;
        wide.reserve(text.size());
        for (char byte : text) wide.push_back(static_cast<wchar_t>(static_cast<signed char>(byte)));
        return wide;
    }
}

}  // namespace korvel
