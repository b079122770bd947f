#pragma once
// Signed releases on the operators' side (the format is in core/release_signature.h).
// Keys and signatures are the host's: the Linux tool signs with OpenSSL's libcrypto
// (publisher/posix/); the Windows tool only verifies, with CNG (publisher/win32/), since
// signing there cannot be relied on under Wine.

#include "core/sha256.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// Host: writes a new P-256 private key (PEM) to `key_file`, created with mode 0600 and
// never over an existing file. Returns the public key: base64 of the 65-byte uncompressed
// point, the form davari.exe's build takes. Throws std::runtime_error naming the file.
std::string generate_release_key(std::filesystem::path const& key_file);

// Host: a private key read from its PEM file.
class ReleaseKey {
public:
    // Throws std::invalid_argument when the file is unreadable or holds no P-256 key.
    explicit ReleaseKey(std::filesystem::path const& key_file);
    // Base64 of the raw 64-byte signature (r ‖ s) of `digest`.
    std::string sign(Sha256Digest const& digest) const;
    // Base64 of the 65-byte public point, the line davari.exe's build takes.
    std::string public_key() const;

private:
    std::string pem_;
};

// Host: true when `signature` (base64 of r ‖ s) is valid for `digest` under `public_key`
// (base64 of the 65-byte point); false for anything malformed.
bool verify_release_signature(std::string_view public_key, Sha256Digest const& digest, std::string_view signature);

// The "sequence" of a published version.json; 0 when the file does not exist or names
// none (an unsigned release). Throws std::invalid_argument when it cannot be read.
std::uint64_t published_sequence(std::filesystem::path const& version_file);

// Adds "manifest_sha256", "sequence" and "signature" to a version document.
void sign_version_document(nlohmann::json& version, std::string_view manifest_bytes, std::uint64_t sequence,
                           ReleaseKey const& key);

// What is wrong with a served release's signature, one line each: no signature or one
// that none of `public_keys` (comma-separated, core/release_keys.h) verifies, no
// "sequence", a manifest whose bytes do not have the SHA-256 the document names.
std::vector<std::string> signature_problems(std::string_view version_body, std::string_view manifest_body,
                                            std::string_view public_keys);

}  // namespace korvel
