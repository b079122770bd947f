#pragma once
// Room on the disk before the first file request: a player learns of a full disk before
// the download, not gigabytes into it.

#include "patcher/file_downloads.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace korvel {

// The most the download stage adds to the game folder's volume at once. Each file grows
// the volume by its size less its old file and the part already kept; until it is
// placed, its part and the old file lie side by side, which up to parallel_downloads
// files in flight add on top (the largest such overlaps are counted). Delta updates
// assemble in the same part, so they need no more. Files the release deletes are freed
// only after the run and count nothing.
std::uint64_t space_needed(std::vector<DownloadItem> const& items, std::filesystem::path const& game_dir);

// Throws "Nincs elég szabad hely a(z) Z:\ meghajtón: a frissítéshez X kell, de csak Y
// szabad." when space_needed is more than the free space of game_dir's volume that this
// user may use (GetDiskFreeSpaceExW). A volume whose free space cannot be read is not
// checked: the writes still fail with their own text.
void check_disk_space(std::vector<DownloadItem> const& items, std::filesystem::path const& game_dir);

}  // namespace korvel
