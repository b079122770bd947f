#pragma once
// The launcher's side of its own replacement: the helper's command line, and the text
// that tells the player when the replacement failed.

#include <windows.h>

#include <filesystem>
#include <string>

namespace korvel {

// Said once after a hand-off whose replacement failed; the game is then patched and
// played with the running launcher.
inline constexpr wchar_t const* k_update_failed_text =
    L"A launcher frissítése nem sikerült; a játék a jelenlegi launcherrel is indítható.";

// "<helper>" <pid> "<launcher>" "<replacement>": the helper splits it by the usual
// Windows rules, so paths with spaces arrive as one argument each.
std::wstring updater_command_line(std::filesystem::path const& helper, DWORD launcher_pid,
                                  std::filesystem::path const& launcher, std::filesystem::path const& replacement);

}  // namespace korvel
