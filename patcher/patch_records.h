#pragma once
// The records that pass between the launcher's patch job and the patching engine. Plain
// values, copied freely between threads: paths and window texts are wide, URLs and
// versions are UTF-8, as everywhere else in the launcher.

#include "core/launcher_offer.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace korvel {

// Input of one patch run, filled by the patch job. Paths are absolute.
struct PatchConfig {
    std::filesystem::path game_dir;         // every manifest path is resolved below it
    std::filesystem::path version_file;     // receives the client version after a successful run
    std::filesystem::path hash_cache_file;  // size/time/hash memory of the verified files
    std::string version_url;                // absolute HTTP(S) URL of version.json
    std::string launcher_version;           // used only when the running launcher cannot be hashed
    std::string declined_launcher_sha256;   // an offered launcher of this SHA-256 (lower-case) is not
                                            // taken: the game is patched as if none were offered
    // Base64 of the release public keys (65-byte uncompressed P-256 points), separated by
    // commas (core/release_keys.h). Empty: releases are not checked. Otherwise only a
    // version.json signed with the private half of one of them is followed (see
    // release_check.h).
    std::string release_public_key;
};

// What a run is doing. The engine never reports 0; the window uses it for "no run yet".
enum class PatchStage : std::int32_t {
    CheckingVersion = 1,
    FetchingManifest = 2,
    Verifying = 3,
    Downloading = 4,
    Finalizing = 5,
    Done = 6,
    UpdatingLauncher = 7,
    Failed = 8,
};

// One progress report. The engine keeps a single instance per run and hands it to the
// callback by reference after each change; a receiver keeps a copy if it needs one.
// The initial values are those of the first report of a run.
struct PatchProgress {
    PatchStage stage = PatchStage::CheckingVersion;
    std::wstring title = L"Verzió ellenőrzése";
    std::wstring detail = L"Kapcsolódás a Korvel2 frissítési szerverhez...";
    std::wstring current_file;        // manifest path of the file in hand, empty when none
    std::uint64_t files_total = 0;    // of the current stage
    std::uint64_t files_done = 0;
    std::uint64_t bytes_done = 0;     // of the file being downloaded
    std::uint64_t bytes_total = 0;
    double speed = 0.0;               // bytes per second
    double eta = -1.0;                // seconds left; -1.0 means unknown
    std::int32_t percent = 0;         // 0..100, of the current stage
};

// What a run returns when it does not throw: either `ok` (client up to date) or
// `launcher_update.ready` (a new launcher is staged, game files untouched).
struct PatchResult {
    bool ok = false;
    std::string client_version;       // set together with `ok`
    LauncherUpdate launcher_update;
};

}  // namespace korvel
