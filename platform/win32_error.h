#pragma once
// Failures of Windows calls carry the system's error code in their text.

#include <windows.h>

#include <stdexcept>
#include <string>

namespace korvel {

// message + " | Win32=" + code, in decimal.
std::runtime_error win32_error(std::string const& message, DWORD code);

// Reads GetLastError() itself: call it right after the failing call, before anything
// else that might change the thread's last error.
std::runtime_error win32_error(std::string const& message);

}  // namespace korvel
