#pragma once
// Fetching the game files that verification found missing or different: each into a
// temporary file beside its target, checked against the manifest's SHA-256 and only
// then moved over the target, with up to three attempts per file. Several files travel
// at once, each on a worker thread of the stage's own.

#include "patcher/hash_cache.h"
#include "patcher/progress_reporter.h"
#include "platform/http.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace korvel {

struct DownloadItem {
    std::string path;                    // manifest path (UTF-8)
    std::uint64_t size = 0;              // manifest size, also the download's hard limit
    std::string sha256;                  // manifest hash, lower-case
    std::filesystem::path local_path;    // game_dir joined with the path
    std::string url;                     // build_file_url(base_url, path)
};

inline constexpr int download_attempts = 3;

// Files in flight at once. Each transfer holds one 1 MiB buffer.
inline constexpr std::size_t parallel_downloads = 8;

// Fetches the items, up to parallel_downloads at once, taken in list order, through
// `http`. Each file placed is entered in `cache` at once. Reports on the caller's
// thread only: `files_done` counts placed files, `bytes_done`/`bytes_total`, `percent`,
// `speed` and `eta` describe the whole stage by bytes, and `current_file` and the
// detail line name the largest file in flight. The first item that fails its third
// attempt stops the others (their part files kept for resuming) and its last text is
// thrown once every worker has ended. A transfer that breaks keeps its part, and a
// record of it in `records_folder`, for the next attempt or run; after the last file
// is placed, every remaining part record and its part go.
void download_files(std::vector<DownloadItem> const& items, HttpSession& http,
                    std::filesystem::path const& records_folder, HashCache& cache, ProgressReporter const& reporter);

// The temporary name a file is downloaded to: the whole name + ".korvel.part".
std::filesystem::path part_path_for(std::filesystem::path const& local_path);

}  // namespace korvel
