#pragma once
// File-system helpers shared by the launcher, the patching engine and the window.
// Each either succeeds or throws std::runtime_error naming the operation and the path
// (in UTF-8). None retries, waits or logs. Any thread.

#include "core/format_bytes.h"
#include "core/safe_path.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace korvel {

// Full path of the running executable. Throws "GetModuleFileNameW failed".
std::filesystem::path exe_path();

// Size of an existing regular file. Throws "Cannot read file size: " + path.
std::uint64_t file_size(std::filesystem::path const& path);

// Last-write time as a FILETIME number (100 ns units since 1601-01-01 UTC); files and
// folders. Throws "Cannot read modified time: " + path.
std::uint64_t file_mtime(std::filesystem::path const& path);

// Creates the parent folder of `path` and every missing folder above it; a bare file
// name needs nothing. Throws "Cannot create directory: " + parent.
void ensure_parent_dir(std::filesystem::path const& path);

// Moves `source` over `target` in one step (same volume only), after flushing the
// source's data to disk so that a power loss cannot leave a full-size file of zeros.
// Throws "Cannot replace file (close the game and try again): " + target + " | Win32=" + code.
void replace_file(std::filesystem::path const& source, std::filesystem::path const& target);

// replace_file for a source whose data the caller has already flushed to disk (as a
// download does through its own handle): only the move, same failure text, and no
// folder made, since the source lies beside the target.
void move_file_replacing(std::filesystem::path const& source, std::filesystem::path const& target);

}  // namespace korvel
