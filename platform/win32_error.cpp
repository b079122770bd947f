#include "platform/win32_error.h"

namespace korvel {

std::runtime_error win32_error(std::string const& message, DWORD code) {
    return std::runtime_error(message + " | Win32=" + std::to_string(code));
}

std::runtime_error win32_error(std::string const& message) {
    DWORD const code = ::GetLastError();
    return win32_error(message, code);
}

}  // namespace korvel
