#pragma once
// The launcher's side of its own replacement: handing a staged launcher to the
// replacement helper, and remembering (in .korvel/ beside the launcher) what became of it.

#include "patcher/patch_records.h"

#include <windows.h>

#include <filesystem>
#include <string>

namespace korvel {

// "<helper>" <pid> "<launcher>" "<replacement>": the helper splits it by the usual
// Windows rules, so paths with spaces arrive as one argument each.
std::wstring updater_command_line(std::filesystem::path const& helper, DWORD launcher_pid,
                                  std::filesystem::path const& launcher, std::filesystem::path const& replacement);

// Start-up, before the first check: what became of the last hand-off of the launcher in
// `base_dir`. The SHA-256 of the offer whose replacement failed, which this start's checks
// decline; empty when there is none. The failure is said once, in a box owned by `owner`.
std::string check_last_hand_off(std::filesystem::path const& base_dir, HWND owner);

// Hands the staged launcher of `update` to `helper`, remembering the attempt first. True
// once the helper runs (it waits for this process to end); false, after a box owned by
// `owner` saying why, when the helper is missing, the attempt cannot be remembered or the
// helper does not start.
bool hand_off_launcher(HWND owner, std::filesystem::path const& base_dir, std::filesystem::path const& helper,
                       StagedLauncher const& update);

}  // namespace korvel
