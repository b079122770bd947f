#pragma once
// Hashing files from disk with the core's SHA-256, each through one 1 MiB buffer per
// thread. Any thread.


#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace korvel {

// Hashes a file from disk. Throws "Cannot open file for SHA-256: " + path or
// "Failed reading file for SHA-256: " + path (UTF-8).
std::string sha256_file(std::filesystem::path const& path);

// What one open of a file told: size and last-write time from the open handle, and
// the SHA-256 read through that same handle when the size was the expected one.
struct OpenedFileHash {
    std::uint64_t size = 0;
    std::uint64_t modified = 0;         // last-write FILETIME, as file_mtime gives it
    std::optional<std::string> sha256;  // empty when the size differed: nothing was read
};

// Opens `path` once, as sha256_file does, and hashes it only when its size is
// `expected_size`, since a file of another size cannot have the expected content.
// Throws sha256_file's texts, and "Cannot read file size: " + path + " | Win32=" + code
// when the open handle cannot be queried.
OpenedFileHash sha256_file_of_size(std::filesystem::path const& path, std::uint64_t expected_size);

}  // namespace korvel
