#pragma once
// A launcher may trust more than one release public key, so that operators can move to a
// new signing key: a launcher that trusts the old and the new key is shipped first, signed
// with the old one, and releases are signed with the new one after that. Keys are written
// as one text, base64 keys separated by commas or semicolons (spaces around them ignored).

#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// The keys of such a text, in order, empty entries left out.
std::vector<std::string> split_release_keys(std::string_view keys);

// True when `key` has the form of a P-256 public key as the publisher prints it: base64
// of the 65-byte uncompressed point (88 characters, the first "B", one "=" at the end).
bool looks_like_release_key(std::string_view key);

}  // namespace korvel
