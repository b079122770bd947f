#pragma once
// version.json, the first document of every patch run: the client version the server
// publishes, where its manifest is, and optionally a launcher to replace this one. The
// publisher writes it and the launcher reads it through this one definition.

#include "core/launcher_offer.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

struct VersionDocument {
    std::string client_version;  // never empty
    std::string manifest_url;    // never empty; used as written, not resolved
    LauncherUpdate launcher;     // version, url, sha256 (lower-case), size
    bool launcher_offered = false;  // version, url and sha256 of the launcher all non-empty
    // The same manifest on the release's mirrors, tried when manifest_url cannot be read
    // (HTTP(S) URLs only; anything else in the list is left out).
    std::vector<std::string> manifest_mirrors;
};

// The most a version document may hold: it lists a few texts and hashes.
inline constexpr std::uint64_t version_document_limit = 64 << 10;

// Reads the response body. Throws, in this order of checks: the JSON library's
// parse_error for anything but one JSON value; its type_error 304 when that is not an
// object; out_of_range 403 for a missing "version" (when "client_version" is absent too)
// or "manifest_url"; type_error 302 for a read key of the wrong type (launcher keys
// included); then std::runtime_error "A version.json hiányos." for an empty version or
// manifest URL.
VersionDocument read_version_document(std::string_view body);

// The document before any signature: "client_version", "manifest_url",
// "manifest_mirrors" when there are any and, when `launcher_offered`, "launcher" with its "version", "url", "sha256" and "size" as given.
// A reader takes a size of 0 as none given.
nlohmann::json version_document_json(VersionDocument const& document);

// The text of a document as published: keys sorted, two-space indented, ending in a
// line break.
std::string version_document_text(nlohmann::json const& document);

}  // namespace korvel
