#include "platform/win32_error.h"

namespace korvel {

Win32Error::Win32Error(std::string const& message, DWORD code)
    : std::runtime_error(message + " | Win32=" + std::to_string(code)), code_(code) {}

Win32Error::Win32Error(TextAsIs, std::string const& text, DWORD code) : std::runtime_error(text), code_(code) {}

Win32Error Win32Error::keeping_text(std::string const& text, DWORD code) {
    return Win32Error(TextAsIs{}, text, code);
}

DWORD last_error_of_failure() noexcept {
    DWORD const code = ::GetLastError();
    return code != ERROR_SUCCESS ? code : ERROR_GEN_FAILURE;
}

void throw_last_error(char const* message) {
    DWORD const code = ::GetLastError();
    throw Win32Error(message, code);
}

}  // namespace korvel
