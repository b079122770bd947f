#pragma once
// What a release signature covers. A signed version.json carries "manifest_sha256" (the
// SHA-256 of the manifest's exact bytes), "sequence" (an unsigned integer that grows with
// every release) and "signature": base64 of the raw 64-byte ECDSA P-256 signature (r ‖ s)
// over release_digest of the document. The operators' tool signs and the launcher checks
// through this one definition.

#include "core/sha256.h"

#include <nlohmann/json.hpp>

namespace korvel {

// SHA-256 of the document's canonical form: the parsed document without "signature",
// serialised by nlohmann/json with dump() (no indent; object keys sorted, as the library
// keeps them). Parsing first makes the form independent of the bytes' layout.
Sha256Digest release_digest(nlohmann::json document);

}  // namespace korvel
