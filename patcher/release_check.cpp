#include "patcher/release_check.h"

#include "core/ascii.h"
#include "core/release_keys.h"
#include "core/json_document.h"
#include "core/parse_int.h"
#include "core/read_file.h"
#include "core/release_signature.h"
#include "core/sha256.h"
#include "platform/base64.h"
#include "platform/ecdsa_p256.h"
#include "platform/files.h"
#include "platform/write_whole_file.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace korvel {

namespace {

char const* const bad_signature = "A kiadás aláírása hiányzik vagy érvénytelen.";

std::runtime_error signature_error() {
    return std::runtime_error(bad_signature);
}

// The recorded sequence; a missing or unreadable record counts as none (0): it is
// written again by the next successful run.
std::uint64_t recorded_sequence(std::filesystem::path const& file) {
    std::optional<std::string> const text = read_whole_file(file);
    return text ? parse_u64(*text).value_or(0) : 0;
}

// Any one of the trusted keys verifies: during a key change the launcher trusts both.
bool signed_by_any(std::string_view keys, Sha256Digest const& digest, std::string const& signature) {
    for (std::string const& text : split_release_keys(keys)) {
        std::optional<std::string> const key = base64_decode(text);
        if (key && ecdsa_p256_verify(*key, digest, signature)) return true;
    }
    return false;
}

// Where launchers before this one kept the record: beside client.version, in the
// launcher's folder. It still counts, so that moving the record allows no rollback.
std::filesystem::path earlier_sequence_file(PatchConfig const& config) {
    return config.version_file.parent_path() / L"release.sequence";
}

bool write_record(std::filesystem::path const& file, std::string const& text) {
    try {
        ensure_parent_dir(file);
        return write_file_replacing(file, text);
    } catch (std::runtime_error const&) {
        return false;
    }
}

}  // namespace

SignedRelease check_release_document(PatchConfig const& config, std::string_view version_body) {
    SignedRelease release;
    if (config.release_public_key.empty()) return release;
    release.checked = true;

    nlohmann::json const document = parse_json_document(version_body);
    auto const signature_it = document.find("signature");
    if (signature_it == document.end() || !signature_it->is_string()) throw signature_error();
    std::optional<std::string> const signature = base64_decode(signature_it->get<std::string>());
    if (!signature || !signed_by_any(config.release_public_key, release_digest(document), *signature))
        throw signature_error();

    // Only what the signature covers is read from here on.
    auto const sequence_it = document.find("sequence");
    if (sequence_it == document.end() || !sequence_it->is_number_unsigned()) throw signature_error();
    release.sequence = sequence_it->get<std::uint64_t>();
    std::uint64_t const recorded =
        std::max(recorded_sequence(release_sequence_file(config)), recorded_sequence(earlier_sequence_file(config)));
    if (release.sequence < recorded)
        throw std::runtime_error("A szerver régebbi kiadást kínál, mint ami már telepítve van.");

    auto const manifest_it = document.find("manifest_sha256");
    if (manifest_it != document.end() && manifest_it->is_string())
        release.manifest_sha256 = ascii_lower(manifest_it->get<std::string>());
    return release;
}

void check_manifest_body(SignedRelease const& release, std::string_view manifest_body) {
    if (!release.checked) return;
    if (release.manifest_sha256 != sha256_hex(manifest_body))
        throw std::runtime_error("A fájllista nem egyezik az aláírt kiadással.");
}

std::filesystem::path release_sequence_file(PatchConfig const& config) {
    return config.game_dir / L".korvel" / L"release.sequence";
}

void record_release_sequence(PatchConfig const& config, SignedRelease const& release) {
    if (!release.checked) return;
    std::string const text = std::to_string(release.sequence);
    // A game folder the player cannot write keeps the record beside the launcher.
    if (!write_record(release_sequence_file(config), text) && !write_record(earlier_sequence_file(config), text))
        throw std::runtime_error("Nem írható a verziófájl.");
}

}  // namespace korvel
