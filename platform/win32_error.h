#pragma once
// Failures of Windows calls: the text names the operation (and the path or URL) and ends
// in " | Win32=" + the decimal error code, unless it is one that players and callers
// already know without it; the code also travels on its own, for callers that act on it.

#include <windows.h>

#include <stdexcept>
#include <string>

namespace korvel {

class Win32Error : public std::runtime_error {
public:
    // what() is message + " | Win32=" + code.
    Win32Error(std::string const& message, DWORD code);

    // what() is `text` alone: for the texts that players and callers already know
    // without a code; the code still travels in code().
    static Win32Error keeping_text(std::string const& text, DWORD code);

    DWORD code() const noexcept { return code_; }

private:
    struct TextAsIs {};
    Win32Error(TextAsIs, std::string const& text, DWORD code);

    DWORD code_;
};

// GetLastError() after a failed call, or ERROR_GEN_FAILURE when the call left no code:
// a failure must never read as success.
DWORD last_error_of_failure() noexcept;

// Reads GetLastError() before anything else runs, then throws. For a text that is
// already made: one still to be built from a path must wait until the code is taken
// (`DWORD const code = ::GetLastError();` first), since converting the path may set the
// thread's last error again.
[[noreturn]] void throw_last_error(char const* message);

}  // namespace korvel
