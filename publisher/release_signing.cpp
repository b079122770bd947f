#include "publisher/release_signing.h"

#include "core/ascii.h"
#include "core/release_keys.h"
#include "core/json_document.h"
#include "core/read_file.h"
#include "core/release_signature.h"
#include "core/sha256.h"
#include "publisher/host.h"

#include <optional>
#include <stdexcept>

namespace korvel {

namespace {

bool signed_by_any(std::string_view public_keys, Sha256Digest const& digest, std::string const& signature) {
    for (std::string const& key : split_release_keys(public_keys))
        if (verify_release_signature(key, digest, signature)) return true;
    return false;
}

// The document, or a discarded value (no object) when it cannot be read.
nlohmann::json read_document(std::string_view text) {
    try {
        return parse_json_document(text);
    } catch (nlohmann::json::exception const&) {
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
}

}  // namespace

std::uint64_t published_sequence(std::filesystem::path const& version_file) {
    std::error_code ec;
    if (!std::filesystem::exists(version_file, ec)) return 0;
    std::optional<std::string> const text = read_whole_file(version_file);
    nlohmann::json const document = text ? read_document(*text) : nlohmann::json(nlohmann::json::value_t::discarded);
    if (!document.is_object())
        throw std::invalid_argument("Cannot read the published version document " + path_text(version_file));
    auto const it = document.find("sequence");
    if (it == document.end()) return 0;
    if (!it->is_number_unsigned())
        throw std::invalid_argument("The published version document " + path_text(version_file) +
                                    " has a \"sequence\" that is not an unsigned integer");
    return it->get<std::uint64_t>();
}

void sign_version_document(nlohmann::json& version, std::string_view manifest_bytes, std::uint64_t sequence,
                           ReleaseKey const& key) {
    version["manifest_sha256"] = sha256_hex(manifest_bytes);
    version["sequence"] = sequence;
    version["signature"] = key.sign(release_digest(version));
}

std::vector<std::string> signature_problems(std::string_view version_body, std::string_view manifest_body,
                                            std::string_view public_keys) {
    std::vector<std::string> problems;
    nlohmann::json const version = read_document(version_body);
    if (!version.is_object()) return {"signature: the version document is not a JSON object"};
    auto const signature = version.find("signature");
    if (signature == version.end() || !signature->is_string())
        problems.push_back("signature: missing");
    else if (!signed_by_any(public_keys, release_digest(version), signature->get<std::string>()))
        problems.push_back("signature: not valid for this public key (the document changed or another key signed it)");
    auto const sequence = version.find("sequence");
    if (sequence == version.end() || !sequence->is_number_unsigned())
        problems.push_back("sequence: missing or not an unsigned integer");
    auto const manifest_sha256 = version.find("manifest_sha256");
    std::string const served = sha256_hex(manifest_body);
    if (manifest_sha256 == version.end() || !manifest_sha256->is_string())
        problems.push_back("manifest_sha256: missing");
    else if (ascii_lower(manifest_sha256->get<std::string>()) != served)
        problems.push_back("manifest_sha256: " + manifest_sha256->get<std::string>() + ", the served manifest has " +
                           served);
    return problems;
}

}  // namespace korvel
