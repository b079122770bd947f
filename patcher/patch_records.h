#pragma once
// The records that pass between the launcher's patch job and the patching engine. Plain
// values, copied freely between threads: paths and window texts are wide, URLs and
// versions are UTF-8, as everywhere else in the launcher.

#include "core/launcher_offer.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

// Input of one patch run, filled by the patch job. Paths are absolute.
struct PatchConfig {
    std::filesystem::path game_dir;         // every manifest path is resolved below it
    std::filesystem::path version_file;     // receives the client version after a successful run
    std::filesystem::path hash_cache_file;  // size/time/hash memory of the verified files
    std::string version_url;                // absolute HTTP(S) URL of version.json
    std::vector<std::string> fallback_version_urls;  // tried in order when version_url cannot be read
    std::string launcher_version;           // used only when the running launcher cannot be hashed
    std::string declined_launcher_sha256;   // an offered launcher of this SHA-256 (lower-case) is not
                                            // taken: the game is patched as if none were offered
    // Base64 of the release public keys (65-byte uncompressed P-256 points), separated by
    // commas (core/release_keys.h). Empty: releases are not checked. Otherwise only a
    // version.json signed with the private half of one of them is followed (see
    // release_check.h).
    std::string release_public_key;
};

// A new launcher downloaded and verified, waiting at `path` for the hand-off.
struct StagedLauncher {
    LauncherUpdate offer;
    std::filesystem::path path;  // game_dir/.korvel_update/davari.new.exe
};

// What a run returns when it does not throw: either `ok` (client up to date) or a
// `staged_launcher` (game files untouched).
struct PatchResult {
    bool ok = false;
    std::string client_version;       // set together with `ok`
    std::optional<StagedLauncher> staged_launcher;
    // For each file read as a delta seed (by its manifest path; an interrupted download's
    // part by that path and ".korvel.part"), the bytes read of it: for the log, and to
    // see that no seed is read twice.
    std::map<std::string, std::uint64_t> seed_bytes_read;
};

}  // namespace korvel
