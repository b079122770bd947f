#include "core/release_signature.h"

#include <string>

namespace korvel {

Sha256Digest release_digest(nlohmann::json document) {
    if (document.is_object()) document.erase("signature");
    std::string const canonical = document.dump();
    Sha256 hash;
    hash.update(canonical.data(), canonical.size());
    return hash.finalize();
}

}  // namespace korvel
