#pragma once
// The launcher's side of its own replacement: the helper's command line.

#include <windows.h>

#include <filesystem>
#include <string>

namespace korvel {

// "<helper>" <pid> "<launcher>" "<replacement>": the helper splits it by the usual
// Windows rules, so paths with spaces arrive as one argument each.
std::wstring updater_command_line(std::filesystem::path const& helper, DWORD launcher_pid,
                                  std::filesystem::path const& launcher, std::filesystem::path const& replacement);

}  // namespace korvel
