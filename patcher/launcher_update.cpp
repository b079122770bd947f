#include "patcher/launcher_update.h"

#include "core/ascii.h"
#include "patcher/download_progress.h"
#include "patcher/part_transfer.h"
#include "patcher/patch_records.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/sha256.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace korvel {

namespace {

// An offer that names no size still has an end: no launcher is this large, and an
// endless answer must not fill the player's disk.
constexpr std::uint64_t unsized_launcher_limit = 1ull << 30;

std::vector<std::uint32_t> version_numbers(std::string_view text) {
    std::vector<std::uint32_t> numbers;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] < '0' || text[i] > '9') {
            ++i;
            continue;
        }
        std::uint32_t value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') value = value * 10 + (text[i++] - '0');
        numbers.push_back(value);
    }
    return numbers;
}

}  // namespace

bool launcher_update_needed(LauncherUpdate const& offer, std::string_view launcher_version) {
    fs::path own;
    try {
        own = exe_path();
    } catch (std::exception const&) {
        return version_greater(offer.version, launcher_version);
    }
    return launcher_update_needed(offer, launcher_version, own);
}

bool launcher_update_needed(LauncherUpdate const& offer, std::string_view launcher_version, fs::path const& own_exe) {
    try {
        return ascii_lower(sha256_file(own_exe)) != offer.sha256;
    } catch (std::exception const&) {
        // The running launcher cannot be read: fall back on the version texts.
        return version_greater(offer.version, launcher_version);
    }
}

bool version_greater(std::string_view offered, std::string_view current) {
    std::vector<std::uint32_t> a = version_numbers(offered);
    std::vector<std::uint32_t> b = version_numbers(current);
    size_t const length = std::max(a.size(), b.size());
    a.resize(length, 0);
    b.resize(length, 0);
    for (size_t i = 0; i < length; ++i)
        if (a[i] != b[i]) return a[i] > b[i];
    return false;
}

PatchResult download_launcher_update(LauncherUpdate const& offer, fs::path const& game_dir, HttpSession& http,
                                     fs::path const& records_folder, ProgressReporter const& reporter) {
    PatchProgress& progress = reporter.progress;
    progress.stage = PatchStage::UpdatingLauncher;
    progress.title = L"Launcher frissítés letöltése";
    progress.detail = L"Jelenlegi fájl: davari.exe";
    progress.current_file = L"davari.exe";
    progress.percent = 0;
    reporter.report();

    fs::path const staging = game_dir / ".korvel_update";
    fs::path const part = staging / "davari.new.exe.part";
    ensure_parent_dir(part);  // a game folder the player cannot write is named as such
    fs::path const target = staging / "davari.new.exe";

    PartRecords records(records_folder, game_dir);
    std::optional<std::uint64_t> const limit =
        offer.size ? std::nullopt : std::optional<std::uint64_t>(unsized_launcher_limit);
    PartTransfer transfer({".korvel_update/davari.new.exe", offer.url, part, offer.size, offer.sha256, limit}, records);
    DownloadClock const clock;
    PartTransfer::Fetched const fetched =
        transfer.attempt(http,
                         [&](std::uint64_t done, std::uint64_t total) {
                             progress.bytes_done = done;
                             progress.bytes_total = total;
                             // A body longer than the server announced must not show more than 100.
                             progress.percent = total != 0 ? static_cast<std::int32_t>(
                                                                  std::min<std::uint64_t>(done * 100 / total, 100))
                                                            : 0;
                             apply_rate(progress, clock);
                             reporter.report();
                         },
                         nullptr);

    if (fetched.sha256 != offer.sha256) {
        transfer.discard();
        throw std::runtime_error("A launcher frissítés SHA-256 ellenőrzése sikertelen.");
    }
    std::error_code ignored;
    fs::remove(target, ignored);  // a copy left by an earlier run
    place_download(part, target);
    transfer.placed();

    PatchResult result;
    result.staged_launcher = StagedLauncher{offer, target};
    return result;
}

}  // namespace korvel
