#pragma once
// Starting another program without waiting for it. Any thread.

#include <windows.h>

#include <filesystem>
#include <string>

namespace korvel {

// CreateProcessW of `program` with `command_line` (the whole line, the quoted program
// first) in `folder`; both handles are closed at once, since nothing waits for the
// program. ERROR_SUCCESS, or the Win32 error code of the failed start.
DWORD start_process(std::filesystem::path const& program, std::wstring command_line,
                    std::filesystem::path const& folder);

}  // namespace korvel
