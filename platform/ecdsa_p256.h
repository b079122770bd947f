#pragma once
// ECDSA P-256 signature checks through Windows CNG (bcrypt.dll). Only verification:
// releases are signed by the operators' tool, never on a player's machine.

#include "core/sha256.h"

#include <string_view>

namespace korvel {

// True when `signature` (raw r ‖ s, 64 bytes) is a valid signature of `digest` under
// `public_key` (the uncompressed point 0x04 ‖ X ‖ Y, 65 bytes). False for a signature
// that does not verify, a wrong length, or a key that is not a point of the curve.
// Throws "Cannot open the ECDSA P-256 provider | NTSTATUS=0x..." when CNG has none.
bool ecdsa_p256_verify(std::string_view public_key, Sha256Digest const& digest, std::string_view signature);

}  // namespace korvel
