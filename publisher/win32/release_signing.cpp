// The Windows tool verifies signed releases with CNG but does not sign: CNG's ECDSA
// signing fails under Wine, where the tool runs for the operators on Linux, and the
// Linux tool signs with OpenSSL.
#include "publisher/release_signing.h"

#include "platform/base64.h"
#include "platform/ecdsa_p256.h"

#include <stdexcept>

namespace korvel {

namespace {

[[noreturn]] void signing_unavailable() {
    throw std::invalid_argument("Signing needs the Linux korvel-publish (build/native/bin/korvel-publish)");
}

}  // namespace

std::string generate_release_key(std::filesystem::path const&) {
    signing_unavailable();
}

ReleaseKey::ReleaseKey(std::filesystem::path const&) {
    signing_unavailable();
}

std::string ReleaseKey::sign(Sha256Digest const&) const {
    signing_unavailable();
}

std::string ReleaseKey::public_key() const {
    signing_unavailable();
}

bool verify_release_signature(std::string_view public_key, Sha256Digest const& digest, std::string_view signature) {
    std::optional<std::string> const point = base64_decode(public_key);
    std::optional<std::string> const raw = base64_decode(signature);
    return point && raw && ecdsa_p256_verify(*point, digest, *raw);
}

}  // namespace korvel
