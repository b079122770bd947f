#pragma once
// The hash cache: per manifest path, the size, last-write time and SHA-256 a file had
// when it was last hashed or downloaded, so that a quick check can trust an unchanged
// file without reading it. Purely an optimisation: a lost cache only costs hashing.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace korvel {

struct CacheEntry {
    std::uint64_t size = 0;
    std::uint64_t modified = 0;  // file_mtime: 100 ns units since 1601-01-01 UTC
    std::string sha256;          // 64 lower-case hex characters
};

// Keyed by the manifest path exactly as written (UTF-8, case matters), iterated in
// ascending byte order, which is also the order of the file.
using HashCache = std::map<std::string, CacheEntry>;

// Never throws: a missing, unreadable or malformed file, a top level that is not an
// object, or any entry of the wrong shape gives an empty cache. Absent "size" or
// "modified" read as 0, an absent "sha256" as "". Protected paths are dropped.
HashCache load_hash_cache(std::filesystem::path const& path);

// Writes the cache as pretty-printed JSON (indent 2, keys in order, "{}" when empty, no
// final newline) to path + ".tmp" and moves it over `path` in one step, so the old file
// stays whole on every failure. Throws "Nem írható a hash gyorsítótár." when the
// temporary file cannot be created or fully written, and the errors of
// ensure_parent_dir and replace_file. Protected paths are never written.
void save_hash_cache(std::filesystem::path const& path, HashCache const& cache);

}  // namespace korvel
