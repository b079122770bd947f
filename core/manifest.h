#pragma once
// The manifest: the server's list of the game client's files (path, size, SHA-256), the
// common download prefix, and the files to remove. The publisher writes it and the
// launcher reads it through this one definition.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// Where a file's chunk index lies (core/chunk_index.h), under the entry's "chunk_index"
// key. The head (the first head_size bytes) is what a launcher fetches whole and checks
// against head_sha256; size and sha256 are of the whole index.
struct ChunkIndexRef {
    // As written: relative to the manifest's base_url ("../chunks/H.idx", what `build`
    // writes, so that the manifest names its base URL in one place), or absolute (what
    // releases published before held). chunk_index_url gives the URL to fetch.
    std::string url;
    std::uint64_t size = 0;
    std::string sha256;  // 64 characters, lower-case
    std::uint64_t head_size = 0;
    std::string head_sha256;
};

struct FileEntry {
    std::string path;    // UTF-8, relative to the game folder, exactly as listed
    std::uint64_t size = 0;
    std::string sha256;  // 64 characters, lower-case
    // Only when the entry names a well-formed one; a malformed "chunk_index" is ignored
    // (the file is then fetched whole), never an error.
    std::shared_ptr<ChunkIndexRef const> chunk_index;
};

struct Manifest {
    std::string base_url;              // never empty
    std::vector<FileEntry> files;      // manifest order, duplicates kept, protected and state paths left out
    std::vector<std::string> deletes;  // manifest order, protected paths and listed files left out
};

// Reads the response body; the first bad entry fails the whole manifest. "files" and "delete" are walked
// as the JSON library iterates (array elements, object values in key order, nothing for
// null, a single value as one element). Throws the JSON library's exceptions as they
// come (parse_error; type_error 304 for a top level or "files" element that is not an
// object; out_of_range 403 for a missing "base_url", "files", "path", "size" or
// "sha256"; type_error 302 for a wrong type) and std::runtime_error for
// "A manifest base_url értéke üres.", "Érvénytelen manifest bejegyzés: " + path (unsafe
// path or a hash not 64 characters long) and "Érvénytelen törlési útvonal: " + path.
// Paths that are not valid UTF-8 fail with the conversion error. A delete entry that
// reaches a listed file under any spelling Windows accepts is left out, and so is every
// file or deletion in the launcher's state folders (see is_launcher_state_path).
Manifest read_manifest(std::string_view body);

// The manifest's text as published: "base_url", "files" in the given order (each entry's
// "chunk_index" when it has one) and "delete" only when there is something to remove;
// keys sorted, two-space indented, ending in a line break. Writes what it is given:
// nothing is checked or left out.
std::string write_manifest(Manifest const& manifest);

// base_url without its trailing "/" characters + "/" + the path without its leading
// ones, percent-encoded. The base URL itself is never encoded.
std::string build_file_url(std::string_view base_url, std::string_view path);

// A chunk index's URL to fetch: an absolute one ("scheme://...") as it is; a relative one
// below base_url taken as a folder, as build_file_url takes it, each leading "../" one
// folder up ("https://h/releases/7/files" and "../chunks/H.idx" give
// "https://h/releases/7/chunks/H.idx"). Empty when it climbs above the host.
std::string chunk_index_url(std::string_view base_url, std::string_view url);

}  // namespace korvel
