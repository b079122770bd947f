#pragma once
// Reading a small file (a settings file, a cache, a document) whole. Any thread.

#include <filesystem>
#include <optional>
#include <string>

namespace korvel {

// The file's bytes; nothing when it cannot be opened or a read fails on the way, so a
// half-read file never passes for a whole one. Never throws but std::bad_alloc.
std::optional<std::string> read_whole_file(std::filesystem::path const& path);

}  // namespace korvel
