#pragma once
// `korvel-publish build`: a release folder turned into the static tree a patch server
// serves, under the launcher's own rules:
//   OUT/releases/V/files/...       the release's files, never changed once published
//   OUT/releases/V/manifest.json   their paths, sizes and SHA-256, and what to delete
//   OUT/releases/V/manifest-M.json the same under a mended base URL (--mend-base-url)
//   OUT/releases/V/chunks/H.idx    the chunk index of each large file, H its SHA-256
//   OUT/launcher/LV/<name>         the offered launcher, when one is given
//   OUT/patch/version.json         the only mutable document, written last

#include "publisher/launcher_trust.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

struct BuildOptions {
    std::filesystem::path release_dir;
    std::filesystem::path out_dir;
    std::string client_version;  // also the release's folder name
    std::string base_url;        // where OUT is served, e.g. "https://patch.example.com"
    std::optional<std::filesystem::path> previous_manifest;  // the last release's manifest.json
    std::optional<std::filesystem::path> launcher_file;
    std::string launcher_version;
    std::string launcher_url;    // empty: OUT/launcher/LV/<name> below base_url
    std::optional<std::filesystem::path> sign_key;  // signs version.json (release_signing.h)
    std::optional<std::uint64_t> sequence;          // with sign_key; default: the last one + 1
    // Let a build through the history guards of release_guards.h, each a flag of `build`.
    bool allow_unsigned = false;        // --allow-unsigned: unsigned after a signed release
    bool allow_new_key = false;         // --allow-new-key: a key that did not sign the last release
    bool first_signed_release = false;  // --first-signed-release: signed, with no version document before
    bool go_back = false;               // --go-back: a client version published before the current one
    // --mend-base-url: a release published under another base URL gets a manifest naming
    // this one, in a new file beside the old (which stays as it was).
    bool mend_base_url = false;
    std::set<std::string> launcher_allowed;  // flags of launcher_trust.h that let an offered launcher through
    bool chunk_indexes = true;  // a chunk index for every file from 1 MiB (releases/V/chunks/)
};

struct BuildSummary {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    std::uint64_t linked = 0;           // hard-linked from the previous release, not copied
    std::vector<std::string> deletes;
    bool already_published = false;     // the same release was there; only version.json written (and `restored`)
    std::vector<std::string> restored;  // already published, but these served files were damaged and rewritten
    std::string manifest_url;
    std::filesystem::path version_file;
    std::uint64_t sequence = 0;  // of a signed release
    std::string public_key;      // of the signing key, base64; empty when unsigned
    std::vector<std::string> notes;  // choices made for the operator and warnings, one line each
    bool version_unchanged = false;  // version.json already said all this and was left as it was
    std::vector<std::string> version_changes;  // what the new version.json changed (top-level keys)
    // Already published under this other base URL (its manifest's base_url); the new
    // manifest (manifest_url) names this build's, and the old file stays as it was.
    std::string mended_from;
    std::optional<OfferedLauncher> launcher;  // the offered launcher's keys, with --launcher
};

// A release that must not go out as it is. Nothing has been written when it is thrown,
// except damaged files of a published release that were restored before one could not be.
class PublishRefused : public std::runtime_error {
public:
    explicit PublishRefused(std::vector<std::string> problems);
    std::vector<std::string> const& problems() const { return problems_; }

private:
    std::vector<std::string> problems_;
};

// Throws PublishRefused for releases the launcher could not take, std::invalid_argument
// for bad options and std::runtime_error for file-system failures (a half-built release
// then stays in a staging folder that no document names, and the next run removes it).
// Progress goes to `progress` on one line.
BuildSummary build_release(BuildOptions const& options, std::ostream& progress);

// The URL-safe folder name rule for client and launcher versions; "" when fine.
std::string version_name_problem(std::string const& version);

// The names of a release folder's manifests: "manifest.json", and the manifest that mends
// its base URL, "manifest-" + the first 16 hex digits of its text's SHA-256 + ".json",
// a name that no earlier build wrote with other bytes.
inline constexpr char published_manifest_name[] = "manifest.json";
std::string mended_manifest_name(std::string_view text);
bool is_manifest_name(std::string_view name);

}  // namespace korvel
