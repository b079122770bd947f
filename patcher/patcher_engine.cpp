#include "patcher/patcher_engine.h"

#include "core/ascii.h"
#include "core/user_agent.h"
#include "patcher/disk_space.h"
#include "patcher/document_fetch.h"
#include "patcher/file_check.h"
#include "patcher/file_downloads.h"
#include "patcher/hash_cache.h"
#include "patcher/host_notes.h"
#include "patcher/launcher_update.h"
#include "patcher/release_check.h"
#include "patcher/transfer_policy.h"
#include "patcher/transfer_retry.h"
#include "core/manifest.h"
#include "core/protected_path.h"
#include "core/version_document.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/keep_awake.h"
#include "platform/sha256.h"
#include "platform/text.h"
#include "platform/write_whole_file.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <map>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace korvel {

namespace {

void set_stage(PatchProgress& progress, PatchStage stage, std::wstring title, std::wstring detail) {
    progress.stage = stage;
    progress.title = std::move(title);
    progress.detail = std::move(detail);
}

// Removes the listed regular files (folders and missing paths are left alone, errors
// ignored) and forgets them in the cache either way.
void delete_listed_files(PatchConfig const& config, Manifest const& manifest, HashCache& cache) {
    for (std::string const& path : manifest.deletes) {
        if (is_protected_path(path)) continue;
        fs::path const local = config.game_dir / utf8_to_wide(path);
        // Read-only too, else an obsolete file from a disc would stay for ever; a failure
        // is left for the next run.
        if (is_regular_file_at(local)) remove_file(local);
        cache.erase(path);
    }
}

// client.version holds exactly the version text. It goes through a temporary file so
// that a failure or a crash never leaves it cut short. A read-only or locked file makes
// the final move fail; that is this file's own failure too, not a game to be closed.
// The call's own failure stays nested behind the player's text, for whoever looks deeper.
void save_client_version(fs::path const& version_file, std::string const& version) {
    char const* const unwritable = "Nem írható a verziófájl.";
    ensure_parent_dir(version_file);
    bool written = false;
    try {
        written = write_file_replacing(version_file, version);
    } catch (std::runtime_error const&) {
        std::throw_with_nested(std::runtime_error(unwritable));
    }
    if (!written) throw std::runtime_error(unwritable);
}

// What a run leaves for the next one: the hash cache, which only spares hashing, and the
// recorded versions. A client that was just verified whole is playable even where none
// of them can be written (a game under Program Files, a folder that Controlled Folder
// Access guards); such a failure only costs the next run its shortcuts.
template <class Save>
void save_if_possible(Save const& save) {
    try {
        save();
    } catch (std::exception const&) {
    }
}

// An offered launcher is taken unless the player declined this one or it is the
// running launcher already.
bool takes_offered_launcher(PatchConfig const& config, VersionDocument const& version) {
    bool const declined = !config.declined_launcher_sha256.empty() &&
                          version.launcher.sha256 == config.declined_launcher_sha256;
    return version.launcher_offered && !declined && launcher_update_needed(version.launcher, config.launcher_version);
}

// `first`, then the places that serve the same (fallbacks, mirrors) in their order.
std::vector<std::string> first_then(std::string const& first, std::vector<std::string> const& alternatives) {
    std::vector<std::string> urls{first};
    urls.insert(urls.end(), alternatives.begin(), alternatives.end());
    return urls;
}

// While a document waits for its next attempt, the detail line counts down; then it
// says again what it said.
WaitFn counting_down(ProgressReporter const& reporter) {
    return [&reporter](WallTime due, bool busy) {
        PatchProgress& progress = reporter.progress;
        std::wstring const detail = progress.detail;
        for (long long left; (left = seconds_until(due, wall_now())) > 0;) {
            progress.detail = waiting_text(busy, left);
            reporter.report();
            // Wakes as the shown number changes.
            std::this_thread::sleep_for(std::min<WallTime::duration>(due - wall_now() - std::chrono::seconds(left - 1),
                                                                     std::chrono::seconds(1)));
        }
        progress.detail = detail;
        reporter.report();
    };
}

// The version document, from version_url or, when it cannot be read, from the fallbacks
// in order. It must always be current, so no cache may answer for the server.
std::string fetch_version_document(PatchConfig const& config, HttpSession& http, TransferPolicy& policy,
                                   ProgressReporter const& reporter) {
    return fetch_document(http, policy, first_then(config.version_url, config.fallback_version_urls),
                          version_document_limit, HttpCaching::revalidate, counting_down(reporter));
}

// The FetchingManifest stage: the manifest, from manifest_url or the same release's
// mirrors, checked against the signed release. Its URL names the release, whose
// manifest never changes, so a cache may answer.
Manifest fetch_manifest(HttpSession& http, TransferPolicy& policy, VersionDocument const& version,
                        SignedRelease const& release, ProgressReporter const& reporter) {
    PatchProgress& progress = reporter.progress;
    set_stage(progress, PatchStage::FetchingManifest, L"Frissítési lista letöltése",
              L"A Korvel2 kliensfájljainak listája töltődik...");
    progress.percent = 0;
    reporter.report();
    // The body lives only here: a long list's text is not kept through the run.
    std::string const manifest_body =
        fetch_document(http, policy, first_then(version.manifest_url, version.manifest_mirrors), http_get_max_body,
                       HttpCaching::allowed, counting_down(reporter));
    check_manifest_body(release, manifest_body);
    return read_manifest(manifest_body);
}

// The Downloading stage, reported as started even when there is nothing to fetch.
// Returns the bytes read of each delta seed.
std::map<std::string, std::uint64_t> download_stage(std::vector<DownloadItem> const& downloads,
                                                    PatchConfig const& config, Manifest const& manifest,
                                                    HttpSession& http, TransferPolicy& policy, HashCache& cache,
                                                    ProgressReporter const& reporter) {
    PatchProgress& progress = reporter.progress;
    if (downloads.empty())
        set_stage(progress, PatchStage::Downloading, L"Nincs letöltendő fájl", L"Minden fájl naprakész.");
    else
        set_stage(progress, PatchStage::Downloading, L"Korvel2 frissítés letöltése",
                  L"A szükséges fájlok letöltése indul...");
    progress.percent = downloads.empty() ? 100 : 0;
    progress.files_total = downloads.size();
    progress.files_done = 0;
    reporter.report();
    check_disk_space(downloads, config.game_dir);
    return download_files(downloads, config, DownloadSources{first_then(manifest.base_url, manifest.mirrors), policy},
                          http, cache, reporter, manifest.deletes);
}

// The Finalizing and Done stages: what the run leaves for the next one, then the last
// report.
void finish_run(PatchConfig const& config, Manifest const& manifest, VersionDocument const& version,
                SignedRelease const& release, HashCache& cache, bool downloaded, ProgressReporter const& reporter) {
    PatchProgress& progress = reporter.progress;
    set_stage(progress, PatchStage::Finalizing, L"Frissítés véglegesítése", L"Gyorsítótár és verzió mentése");
    reporter.report();
    delete_listed_files(config, manifest, cache);
    save_if_possible([&] { save_hash_cache(config.hash_cache_file, cache); });
    save_if_possible([&] { save_client_version(config.version_file, version.client_version); });
    save_if_possible([&] { record_release_sequence(config, release); });

    set_stage(progress, PatchStage::Done, L"A kliens naprakész",
              downloaded ? L"A frissítés sikeresen elkészült." : L"Nem volt szükség letöltésre.");
    progress.percent = 100;
    progress.current_file.clear();
    progress.bytes_done = 0;
    progress.bytes_total = 0;
    progress.speed = 0;
    progress.eta = -1.0;
    reporter.report();
}

PatchResult run_steps(PatchConfig const& config, bool full_repair, ProgressReporter const& reporter) {
    reporter.report();

    // One session for every request of the run, so that its connections are reused.
    HttpSession http(launcher_user_agent);
    // One policy for every request too: a host that failed for one is avoided by all.
    TransferPolicy policy;
    load_host_notes(host_notes_file(config), policy, wall_now());
    struct SaveNotes {
        PatchConfig const& config;
        TransferPolicy const& policy;
        ~SaveNotes() { save_host_notes(host_notes_file(config), policy, wall_now()); }
    } const save_notes{config, policy};
    std::string const version_body = fetch_version_document(config, http, policy, reporter);
    VersionDocument const version = read_version_document(version_body);
    SignedRelease const release = check_release_document(config, version_body);
    if (takes_offered_launcher(config, version)) {
        PatchResult staged = download_launcher_update(version.launcher, config.game_dir, http,
                                                      part_records_folder(config), reporter);
        record_release_sequence(config, release);
        return staged;
    }

    Manifest const manifest = fetch_manifest(http, policy, version, release, reporter);
    HashCache cache = load_hash_cache(config.hash_cache_file);
    std::vector<DownloadItem> const downloads = verify_files(config, full_repair, manifest, cache, reporter);
    PatchResult result;
    result.seed_bytes_read = download_stage(downloads, config, manifest, http, policy, cache, reporter);
    finish_run(config, manifest, version, release, cache, !downloads.empty(), reporter);

    result.ok = true;
    result.client_version = version.client_version;
    return result;
}

}  // namespace

PatchResult PatcherEngine::run(PatchConfig const& config, bool full_repair, PatchProgressFn const& progress_fn) {
    KeepAwake const awake;
    PatchProgress progress;  // starts as the first report of a run: CheckingVersion, numbers 0
    ProgressReporter const reporter{progress, progress_fn};
    try {
        return run_steps(config, full_repair, reporter);
    } catch (std::exception const& e) {
        progress.stage = PatchStage::Failed;
        progress.title = L"A frissítés sikertelen";
        progress.detail = utf8_or_bytes_to_wide(e.what());
        reporter.report();
        throw;
    }
}

}  // namespace korvel
