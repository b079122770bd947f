#pragma once
// Fetching the game files that verification found missing or different: each into a
// temporary file beside its target, checked against the manifest's SHA-256 and only
// then moved over the target, with up to three attempts per file.

#include "patcher/hash_cache.h"
#include "patcher/progress_reporter.h"

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

// Fetches the items in order, updating `cache` for each file placed and reporting
// progress. Throws, with the last attempt's text, on the first item that fails three
// times; items before it stay placed.
void download_files(std::vector<DownloadItem> const& items, HashCache& cache, ProgressReporter const& reporter);

// The temporary name a file is downloaded to: the whole name + ".korvel.part".
std::filesystem::path part_path_for(std::filesystem::path const& local_path);

}  // namespace korvel
