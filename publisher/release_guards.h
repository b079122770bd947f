#pragma once
// What `build` checks against the release history that OUT_DIR keeps, before anything is
// written: the slips that would lock players out (an unsigned release after signed ones,
// another signing key, a signed sequence started again at 1, an older client version
// published as the newest) are refused unless the operator names them with a flag, and
// the choices made for the operator (the previous release, the version document left as
// it was) are said in the output.

#include "publisher/release_build.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

// The version document already published: OUT_DIR's, or else the one of the tree that
// --previous lies in.
struct PublishedDocument {
    std::filesystem::path file;         // empty when there is none
    nlohmann::json document;            // an object when `file` is set
    std::string client_version;
    std::string base;                   // from manifest_url; empty when it does not follow the layout
    std::optional<std::uint64_t> sequence;
    bool in_out_dir = false;            // OUT_DIR/patch/version.json, the one `build` replaces

    bool exists() const { return !file.empty(); }
    bool is_signed() const { return document.contains("signature"); }
};

// Throws std::invalid_argument when a document is there but cannot be read.
PublishedDocument read_published_document(BuildOptions const& options);

// The manifest a build without --previous diffs against, and the note saying so: the
// release itself when it is already published (its manifest stays as it was), else the
// release OUT_DIR's version document names, else OUT_DIR's newest manifest. Nothing in a
// fresh OUT_DIR.
std::optional<std::filesystem::path> default_previous(BuildOptions const& options, PublishedDocument const& published,
                                                      std::vector<std::string>& notes);

// Refuses, with PublishRefused naming each slip and the flag that lets it through, a
// release that players' launchers would refuse or that would go back in client version.
// `public_key` is the signing key's public half ("" for an unsigned build). Returns the
// notes and warnings to print for what it let through.
std::vector<std::string> check_release_history(BuildOptions const& options, PublishedDocument const& published,
                                               std::string const& base, std::string const& public_key);

// How a published manifest compares with the one a build would write now. Chunk index
// URLs count as the same when they name the same file relative to each manifest's
// base_url: releases published before wrote them absolute, with the base URL inside.
enum class ManifestMatch {
    same,            // the same files, deletions, indexes and base URL
    other_base_url,  // only the base URL differs: a mistyped one may be mended
    other_content,
};
ManifestMatch compare_manifests(std::string const& published, std::string const& wanted);

// What the new version document changes against OUT_DIR's (top-level keys, the signature
// included); empty when OUT_DIR has none. `unchanged` is set when it would change nothing
// that a player's launcher reads: same content, and, for a signed build, the published
// document already signed by `public_key` over this manifest, with no --sequence asked for.
std::vector<std::string> version_document_changes(BuildOptions const& options, PublishedDocument const& published,
                                                  nlohmann::json const& unsigned_document,
                                                  std::string const& manifest_text, std::string const& public_key,
                                                  bool& unchanged);

}  // namespace korvel
