#pragma once
// The launcher's own update: whether the launcher the server offers differs from the
// running one, and downloading it into the staging folder below the game folder.

#include "patcher/patch_records.h"
#include "patcher/progress_reporter.h"
#include "platform/http.h"

#include <filesystem>
#include <string_view>

namespace korvel {

// True when the running launcher (`own_exe`, by default exe_path()) hashes differently
// from the offer. Only when that file cannot be hashed are the version texts compared.
bool launcher_update_needed(LauncherUpdate const& offer, std::string_view launcher_version);
bool launcher_update_needed(LauncherUpdate const& offer, std::string_view launcher_version,
                            std::filesystem::path const& own_exe);

// Compares the runs of digits of both texts as numbers ("2.1.0" is 2, 1, 0), the
// shorter list padded with zeros; true only when `offered` is larger.
bool version_greater(std::string_view offered, std::string_view current);

// Downloads the offer through `http` to game_dir/.korvel_update/davari.new.exe.part
// (one attempt), verifies its SHA-256 and moves it to davari.new.exe. Reports the
// UpdatingLauncher stage and its download progress. Throws on any failure; a wrong file
// is removed first. A transfer that breaks keeps its part, recorded in `records_folder`,
// and the next run asks only for the rest, as the game files do.
PatchResult download_launcher_update(LauncherUpdate const& offer, std::filesystem::path const& game_dir,
                                     HttpSession& http, std::filesystem::path const& records_folder,
                                     ProgressReporter const& reporter);

}  // namespace korvel
