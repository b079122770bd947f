#pragma once
// The verification step of a patch run: which listed files are already correct on disk
// (by the hash cache or by hashing) and which have to be downloaded.

#include "patcher/file_downloads.h"
#include "patcher/hash_cache.h"
#include "core/manifest.h"
#include "patcher/patch_records.h"
#include "patcher/progress_reporter.h"

#include <vector>

namespace korvel {

// Compares every listed file with the manifest, trusting the cache where allowed, and
// returns what has to be downloaded, in manifest order. Reports the stage's start, one
// report per file and its end. Adds or refreshes the cache entry of every file it
// hashes and finds correct. Throws the hashing errors of a file that exists but cannot
// be read, and the conversion error of a path that is not UTF-8.
std::vector<DownloadItem> verify_files(PatchConfig const& config, bool full_repair, Manifest const& manifest,
                                       HashCache& cache, ProgressReporter const& reporter);

}  // namespace korvel
