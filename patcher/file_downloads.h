#pragma once
// Fetching the game files that verification found missing or different: each into a
// temporary file beside its target, checked against the manifest's SHA-256 and only
// then moved over the target, attempt by attempt as the run's transfer policy says, from
// the manifest's base URL or its mirrors. Several files travel at once, each on a worker
// thread of the stage's own.

#include "core/manifest.h"
#include "patcher/hash_cache.h"
#include "patcher/patch_records.h"
#include "patcher/progress_reporter.h"
#include "patcher/transfer_policy.h"
#include "platform/http.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace korvel {

// One file to fetch: its entry in the run's manifest, which outlives the downloads. Its
// local path and URL are made when its transfer starts; kept for every item of a large
// install they would take more memory than the entries themselves.
struct DownloadItem {
    FileEntry const* entry = nullptr;
};

// Attempts of a file whose failures are permanent (another status, wrong bytes).
inline constexpr int download_attempts = 3;

// Where the files come from: the manifest's base URL first, then its mirrors (each
// serving the same tree), and the run's policy that chooses among them.
struct DownloadSources {
    std::vector<std::string> base_urls;
    TransferPolicy& policy;
};

// Files in flight at once. Each transfer holds one 1 MiB buffer.
inline constexpr std::size_t parallel_downloads = 8;

// Fetches the items, up to parallel_downloads at once, taken in list order, through
// `http`, from below the sources' base URLs into config.game_dir: each file starts on the
// host the policy chooses for it and moves to another when it fails there, continuing
// its part from the byte it reached. Each file placed is entered in `cache` at once. Reports on the caller's
// thread only: `files_done` counts placed files, `bytes_done`/`bytes_total`, `percent`,
// `speed` and `eta` describe the whole stage by bytes, and `current_file` and the
// detail line name the largest file in flight (or count down its wait for the next
// attempt). The first item the policy gives up on stops the others (their part files kept for resuming) and its last text is
// thrown once every worker has ended. A transfer that breaks keeps its part, and a
// record of it in part_records_folder(config), for the next attempt or run; after the
// last file is placed, every remaining part record and its part go.
// A file whose entry has a chunk index is first rebuilt from the chunks the player
// already has (patcher/delta_update.h), with `deleted` (the manifest's delete list)
// among the seeds of a file new at its path; the stage's bytes then count what travels.
// Each seed is read at most once for all the files. Returns the bytes read of each seed
// (patch_records.h, PatchResult::seed_bytes_read).
std::map<std::string, std::uint64_t> download_files(std::vector<DownloadItem> const& items, PatchConfig const& config,
                                                    DownloadSources const& sources, HttpSession& http,
                                                    HashCache& cache, ProgressReporter const& reporter,
                                                    std::vector<std::string> const& deleted = {});

// Where the records of part files kept for resuming live: beside the hash cache, in
// the launcher's state folder.
std::filesystem::path part_records_folder(PatchConfig const& config);

// The longest file name (one path element, in UTF-16 units) Windows file systems hold.
inline constexpr std::size_t longest_file_name = 255;

// The temporary name a file is downloaded to: the whole name + ".korvel.part". A name
// that would grow past longest_file_name with it (244 units or more) gets the first 32
// hex digits of its UTF-8 name's SHA-256 + ".korvel.part" instead. That part stays
// beside its target rather than in the state folder: the final move must stay on the
// target's volume, which the state folder need not share, and a part record is only
// acted on for a part inside the game folder. No listed name ends in ".korvel.part",
// so the short name cannot meet a game file.
std::filesystem::path part_path_for(std::filesystem::path const& local_path);

}  // namespace korvel
