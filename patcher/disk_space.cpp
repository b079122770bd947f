#include "patcher/disk_space.h"

#include "core/format_bytes.h"
#include "platform/files.h"
#include "platform/text.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace korvel {

namespace {

std::uint64_t size_or_zero(fs::path const& file) {
    std::error_code ec;
    std::uint64_t const size = fs::file_size(file, ec);
    return ec ? 0 : size;
}

// The root of the volume the folder lies on ("C:\"), or the folder itself when Windows
// cannot tell.
std::wstring volume_of(fs::path const& folder) {
    wchar_t root[MAX_PATH + 1] = {};
    if (::GetVolumePathNameW(folder.c_str(), root, MAX_PATH + 1)) return root;
    return folder.native();
}

}  // namespace

std::uint64_t space_needed(std::vector<DownloadItem> const& items, fs::path const& game_dir) {
    std::uint64_t growth = 0;
    std::vector<std::uint64_t> overlaps;
    for (DownloadItem const& item : items) {
        fs::path const local = game_dir / utf8_to_wide(item.entry->path);
        std::uint64_t const old_size = size_or_zero(local);
        std::uint64_t const kept = std::min(size_or_zero(part_path_for(local)), item.entry->size);
        std::uint64_t const to_come = item.entry->size - kept;
        if (to_come > old_size) growth += to_come - old_size;
        overlaps.push_back(std::min(old_size, to_come));
    }
    std::size_t const in_flight = std::min(parallel_downloads, overlaps.size());
    std::partial_sort(overlaps.begin(), overlaps.begin() + static_cast<std::ptrdiff_t>(in_flight), overlaps.end(),
                      std::greater<>());
    for (std::size_t i = 0; i < in_flight; ++i) growth += overlaps[i];
    return growth;
}

void check_disk_space(std::vector<DownloadItem> const& items, fs::path const& game_dir) {
    std::uint64_t const needed = space_needed(items, game_dir);
    if (needed == 0) return;
    // Asked of the folder itself, not the volume's root: a folder can be a mounted
    // volume of its own. The game folder of a first install may not exist yet.
    std::error_code ec;
    fs::path folder = game_dir;
    while (!fs::is_directory(folder, ec) && folder.has_relative_path()) folder = folder.parent_path();
    ULARGE_INTEGER free_to_caller{};
    if (!::GetDiskFreeSpaceExW(win32_path(folder).c_str(), &free_to_caller, nullptr, nullptr)) return;
    std::wstring const volume = volume_of(game_dir);
    if (needed <= free_to_caller.QuadPart) return;
    throw std::runtime_error("Nincs elég szabad hely a(z) " + wide_to_utf8(volume) + " meghajtón: a frissítéshez " +
                             format_bytes(static_cast<double>(needed)) + " kell, de csak " +
                             format_bytes(static_cast<double>(free_to_caller.QuadPart)) + " szabad.");
}

}  // namespace korvel
