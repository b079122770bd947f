#pragma once
// Signed releases (the format is in core/release_signature.h). With a release public key
// in PatchConfig, a patch run follows only a version.json signed with the matching private
// key, which the operators keep off the patch server: whoever controls that server can
// then offer no file and no launcher of their own. The signed document names the SHA-256
// of the manifest's bytes (and the manifest names every game file's), and a "sequence"
// that may never go down for a game folder, so an old signed release cannot be replayed
// over a newer one.

#include "patcher/patch_records.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace korvel {

// What a checked version document promises about the rest of the release.
struct SignedRelease {
    bool checked = false;          // false: no key configured, nothing was or will be checked
    std::string manifest_sha256;   // lower-case; empty when the document names none
    std::uint64_t sequence = 0;
};

// Checks version.json's body (already read by read_version_document) when a key is
// configured. Throws std::runtime_error "A kiadás aláírása hiányzik vagy érvénytelen."
// for a missing, malformed or wrong signature (or a bad key, or no valid "sequence"),
// and "A szerver régebbi kiadást kínál, mint ami már telepítve van." when "sequence" is
// lower than the highest this game folder accepted before.
SignedRelease check_release_document(PatchConfig const& config, std::string_view version_body);

// Throws "A fájllista nem egyezik az aláírt kiadással." when the release was checked and
// the manifest's bytes do not have the SHA-256 it names.
void check_manifest_body(SignedRelease const& release, std::string_view manifest_body);

// The record of the highest accepted sequence, kept with the game folder's state:
// game_dir/.korvel/release.sequence, decimal digits. A record that earlier launchers left
// beside client.version still counts.
std::filesystem::path release_sequence_file(PatchConfig const& config);

// Records a checked release's sequence: after a successful run, and as soon as a launcher
// it offers is staged (so that the release cannot be replayed under the new launcher).
// Throws "Nem írható a verziófájl." when no record can be written.
void record_release_sequence(PatchConfig const& config, SignedRelease const& release);

}  // namespace korvel
