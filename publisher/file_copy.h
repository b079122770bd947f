#pragma once
// Reading a release file once: its SHA-256 and size, optionally writing the same bytes
// to a copy as they pass. Throws std::runtime_error naming the file. Any thread.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace korvel {

struct FileDigest {
    std::uint64_t size = 0;
    std::string sha256;  // 64 lower-case hex characters
};

// Called with the number of bytes just read.
using BytesReadFn = std::function<void(std::uint64_t)>;

// Hashes `source`; when `copy` is not empty, also writes its bytes there (created or
// truncated; its folder must exist). A failed copy is removed again.
FileDigest hash_file(std::filesystem::path const& source, std::filesystem::path const& copy,
                     BytesReadFn const& on_read);

// Makes `link` a second name of `existing`; false when the file system cannot (another
// volume, no hard links), so that the caller copies instead.
bool make_hard_link(std::filesystem::path const& existing, std::filesystem::path const& link);

}  // namespace korvel
